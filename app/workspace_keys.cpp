// Moving the placed product with the arrow keys. Each press is the drag a mouse would
// make: grab, move by the step, the pointer resting there, release. So the keys follow the
// mouse's rules exactly: free inside the photo, one step past an edge at most, and the
// release puts a product that ended past an edge back on it.
#include "workspace_history.h"

namespace {

bool ArrowStep(uint16_t key, int& dx, int& dy) {
  dx = dy = 0;
  switch (key) {
    case vkLeft:
      dx = -1;
      return true;
    case vkRight:
      dx = 1;
      return true;
    case vkUp:
      dy = -1;
      return true;
    case vkDown:
      dy = 1;
      return true;
    default:
      return false;
  }
}

}  // namespace

bool TFrmModulePhoto::FormKeyDown(uint16_t key, TShiftState shift) {
  if (key == vkEscape && shift == 0) {
    if (!FCornerMode || FCornerIndex >= 0) return false;
    EndPerspective();
    return true;
  }
  // Ctrl+Z undoes; Ctrl+Shift+Z and Ctrl+Y redo.
  if ((shift & ssCtrl) != 0 && (shift & ssAlt) == 0 && (key == vkZ || key == vkY)) {
    if (key == vkZ && (shift & ssShift) == 0)
      Undo();
    else if (key == vkZ || (shift & ssShift) == 0)
      Redo();
    else
      return false;
    return true;
  }
  int dx = 0;
  int dy = 0;
  if (!ArrowStep(key, dx, dy) || (shift & (ssCtrl | ssAlt)) != 0) return false;
  // Only a product on screen moves, and not while the mouse holds it or draws a frame.
  if (!ImgProduit.Visible || !ImgProduit.Enabled || !ImgProduit.HasPicture() || isDragging ||
      isDrawing)
    return false;
  if (FCornerIndex >= 0) return false;  // a corner is being dragged
  const TStep undoStep(*this);
  const int step = (shift & ssShift) != 0 ? 10 : 1;
  // The pointer in window coordinates, grabbing the product's top-left pixel.
  const int pointerX = ImgProduit.Left + dx * step;
  const int pointerY = ImgProduit.Top + dy * step;
  ImgProduitMouseDown(mbLeft, ssLeft, 0, 0);
  ImgProduitMouseMove(ssLeft, pointerX - ImgProduit.Left, pointerY - ImgProduit.Top);
  // Resting: this move sees where the product ended, so the release snaps it if needed.
  ImgProduitMouseMove(ssLeft, pointerX - ImgProduit.Left, pointerY - ImgProduit.Top);
  ImgProduitMouseUp(mbLeft, 0, pointerX - ImgProduit.Left, pointerY - ImgProduit.Top);
  return true;
}
