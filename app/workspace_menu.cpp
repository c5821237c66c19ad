// The photo's context menu (right button) and the keyboard shortcuts of the commands
// beyond the window's buttons.
#include "workspace_history.h"

std::vector<TMenuEntry> TFrmModulePhoto::ContextMenu() {
  return {
      {mcPerspective, "Perspective", "", CanBeginPerspective() && !FCornerMode},
      {mcFix, "Fixer le produit sur la photo", "", CanFixProduct()},
      {mcUndo, "Annuler", "Ctrl+Z", CanUndo()},
      {mcRedo, "Rétablir", "Ctrl+Maj+Z", CanRedo()},
      {mcExportFullResolution, "Exporter en pleine résolution…", "", CanExportFullResolution()},
  };
}

void TFrmModulePhoto::RunMenuCommand(TMenuCommand command) {
  switch (command) {
    case mcPerspective:
      BeginPerspective();
      break;
    case mcFix:
      FixProduct();
      break;
    case mcUndo:
      Undo();
      break;
    case mcRedo:
      Redo();
      break;
    case mcExportFullResolution:
      ExportFullResolution();
      break;
  }
}
