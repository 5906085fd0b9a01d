#ifndef KST_FACESELECTION_H
#define KST_FACESELECTION_H

class QWidget;

// Marks a panel's face in its rack window as selected in the main window's
// tree: a highlight-coloured frame drawn over the face's edge, which lets
// mouse presses through to the face.
void kst_setFaceSelected(QWidget *face, bool selected);
bool kst_isFaceSelected(const QWidget *face);

#endif
