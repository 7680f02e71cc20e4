#pragma once
// Where the step picture goes: the picture frame grows to hold the picture, the window and the
// controls below the frame grow and move with it, and the picture is centred in the frame.
struct CRectangle {
    int m_nLeft = 0;
    int m_nTop = 0;
    int m_nRight = 0; // the first column outside
    int m_nBottom = 0;
};

struct CPictureLayout {
    int m_nGrowX = 0;     // what the window and the frame grow by at the right
    int m_nGrowY = 0;     // and at the bottom; the controls below the frame move down by it
    CRectangle m_rcFrame; // the frame afterwards, in client coordinates
    int m_nCentreX = 0;   // the picture's centre, in client coordinates
    int m_nCentreY = 0;
};

// rcFrame is the frame in client coordinates; nothing shrinks.
CPictureLayout LayOutPicture(const CRectangle& rcFrame, int nPictureWidth, int nPictureHeight);
