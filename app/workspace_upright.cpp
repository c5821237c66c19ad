// Pictures loaded the way they are seen: phones store most photos sideways and record in
// the Exif data how to turn them, so a JPEG is turned upright once, when it is loaded,
// before anything measures or fits it.
#include "ModulePhotos.h"
#include "jpeg.h"

void LoadPictureUpright(TPicture& target, const std::string& fileName) {
  TPicture loaded;
  loaded.LoadFromFile(fileName);
  UprightPicture(loaded);
  target.Assign(loaded);
}
