#pragma once
// The Qt window's thread as the shared calls need it: a call is queued as an event of the
// window's ordinary loop, behind the events queued already.
#include <QObject>

#include "frontend/WindowCalls.h"

class CQtWindowCalls : public CWindowCalls {
public:
    // pContext lives on the windows' thread; the calls run in its name. It must outlive every
    // worker that calls: its owner shuts the way and waits for the worker before it goes.
    explicit CQtWindowCalls(QObject* pContext);
};
