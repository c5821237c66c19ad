// vitrelle-img convert ENTREE SORTIE: the export's route. Load by extension, assign to a new
// picture of the class registered for the output's extension, save.
#include "commands.h"
#include "framework.h"

int CmdConvert(const TArgs& args) {
  ExpectArgCount(args, 2, 2);
  const std::string ext = ExtractFileExt(args[1]);
  const TGraphicClass* outputClass = TPicture::FindFileFormat(ext);
  if (!outputClass)
    throw EInvalidGraphic("Format de fichier image inconnu pour l'enregistrement" +
                          (ext.empty() ? "" : " (" + ext + ")"));
  TPicture picture;
  picture.LoadFromFile(args[0]);
  std::unique_ptr<TGraphic> output = outputClass->Create();
  // The loaded picture is dropped afterwards: the output may take its contents over.
  try {
    output->Adopt(*picture.Graphic());
  } catch (const EConvertError&) {
    // Picture classes convert to and from bitmaps, not to each other: go through the
    // bitmap, as the export does with the composed mock-up.
    output->Adopt(picture.Bitmap());
  }
  output->SaveToFile(args[1]);
  return 0;
}
