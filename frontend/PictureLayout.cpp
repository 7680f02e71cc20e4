#include "frontend/PictureLayout.h"

#include <algorithm>

CPictureLayout LayOutPicture(const CRectangle& rcFrame, int nPictureWidth, int nPictureHeight) {
    CPictureLayout layout;
    layout.m_nGrowX = std::max(0, nPictureWidth - (rcFrame.m_nRight - rcFrame.m_nLeft));
    layout.m_nGrowY = std::max(0, nPictureHeight - (rcFrame.m_nBottom - rcFrame.m_nTop));
    layout.m_rcFrame = rcFrame;
    layout.m_rcFrame.m_nRight += layout.m_nGrowX;
    layout.m_rcFrame.m_nBottom += layout.m_nGrowY;
    // Integer halves truncated toward zero, right and bottom being the first pixels outside.
    layout.m_nCentreX = (layout.m_rcFrame.m_nLeft + layout.m_rcFrame.m_nRight) / 2;
    layout.m_nCentreY = (layout.m_rcFrame.m_nTop + layout.m_rcFrame.m_nBottom) / 2;
    return layout;
}
