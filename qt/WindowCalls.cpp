#include "qt/WindowCalls.h"

#include <QThread>

namespace {

class CQtWindowThread : public IWindowThread {
public:
    explicit CQtWindowThread(QObject* pContext) : m_pContext(pContext) {}
    bool IsWindowThread() const override {
        return QThread::currentThread() == m_pContext->thread();
    }
    bool Post(std::function<void()> fn) override {
        return QMetaObject::invokeMethod(m_pContext, std::move(fn), Qt::QueuedConnection);
    }

private:
    QObject* m_pContext;
};

} // namespace

CQtWindowCalls::CQtWindowCalls(QObject* pContext)
    : CWindowCalls(std::make_shared<CQtWindowThread>(pContext)) {}
