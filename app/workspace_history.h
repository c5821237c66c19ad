// The undo history's recording of one user step (private to the workspace).
#pragma once

#include "ModulePhotos.h"

// Marks one step of the user for as long as it lives: the state before it is taken when
// the outermost step starts, and kept in the history when that step ends having changed
// the mock-up. Steps nest: a mode change clears the product inside one step.
class TFrmModulePhoto::TStep {
 public:
  explicit TStep(TFrmModulePhoto& form) : FForm(form) {
    if (FForm.FStepDepth++ == 0) FBefore = std::make_unique<TMockupState>(FForm.CaptureState());
  }
  ~TStep() {
    if (--FForm.FStepDepth != 0 || !FBefore) return;
    try {
      FForm.Remember(std::move(*FBefore));
    } catch (...) {
      // Memory refused while recording: the step stays done, only its undo is lost.
    }
  }
  TStep(const TStep&) = delete;
  TStep& operator=(const TStep&) = delete;

 private:
  TFrmModulePhoto& FForm;
  std::unique_ptr<TMockupState> FBefore;
};

// A JPEG picture gives back its decoded pixels (it keeps its compressed data and decodes
// again when next drawn): photos kept only for undo hold their file's bytes, not 3 bytes
// a pixel. Any other picture stays as it is.
void ReleaseDecodedPixels(TPicture& picture);
