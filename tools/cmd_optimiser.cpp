// vitrelle-img optimiser ENTREE.gif SORTIE.gif [--options crop,merge,cleanup,colormap]: loads a
// GIF, optimizes it and saves it. A result that is not smaller than the input is not kept:
// the input's bytes are written instead, so the command never enlarges a file.
#include <algorithm>
#include <iostream>
#include <iterator>
#include <sstream>
#include <unordered_set>

#include "GIFImg.h"
#include "commands.h"
#include "framework.h"

namespace {

TGIFOptimizeOptions ParseOptions(const std::string& list) {
  TGIFOptimizeOptions options = 0;
  std::stringstream words(list);
  for (std::string word; std::getline(words, word, ',');) {
    if (word == "crop")
      options |= ooCrop;
    else if (word == "merge")
      options |= ooMerge;
    else if (word == "cleanup")
      options |= ooCleanup;
    else if (word == "colormap")
      options |= ooColorMap;
    else
      throw TUsageError("option d'optimisation inconnue « " + word + " »");
  }
  if (!options) throw TUsageError("aucune option d'optimisation");
  return options;
}

// What a frame was before optimizing, to say what became of the frames that left.
struct TFrameBefore {
  const TGIFFrame* Frame;
  bool Empty;
  bool FullyTransparent;
  int Delay;  // as played: 0 and no graphic control play as the default, held within bounds
};

std::vector<TFrameBefore> DescribeFrames(TGIFImage& image) {
  std::vector<TFrameBefore> frames;
  for (int i = 0; i < image.Images().Count(); ++i) {
    TGIFFrame& f = *image.Images().Frames(i);
    bool clear = f.Transparent() && !f.Empty();
    if (clear) {
      const uint8_t t = f.GraphicControlExtension()->TransparentColorIndex();
      clear = std::all_of(f.Data(), f.Data() + f.DataSize(), [t](uint8_t p) { return p == t; });
    }
    TGIFGraphicControlExtension* g = f.GraphicControlExtension();
    const int delay = g && g->Delay() != 0 ? g->Delay() : DefaultFrameDelay;
    frames.push_back(
        {&f, f.Empty(), clear, std::clamp(delay, MinimumFrameDelay, MaximumFrameDelay)});
  }
  return frames;
}

// One line for each frame that is no longer there and could have been seen.
void ReportRemovedFrames(const std::vector<TFrameBefore>& before, TGIFImage& image) {
  std::unordered_set<const TGIFFrame*> kept;
  for (int i = 0; i < image.Images().Count(); ++i) kept.insert(image.Images().Frames(i));
  for (size_t i = 0; i < before.size(); ++i) {
    // A frame without pixels is never shown: its removal changes nothing.
    if (kept.count(before[i].Frame) || before[i].Empty) continue;
    std::cout << "Trame " << i << " supprimée : "
              << (before[i].FullyTransparent ? "entièrement transparente"
                                             : "identique à ce qui est déjà affiché")
              << ", délai " << before[i].Delay << " cs ajouté à la trame précédente\n";
  }
}

uint32_t ColorValue(const TGIFColor& c) {
  return c.Red | (uint32_t(c.Green) << 8) | (uint32_t(c.Blue) << 16);
}

// Whether one global table can hold every colour the frames draw with, the background
// colour, and a transparent entry when some frame needs one: only then does merging the
// tables keep every colour.
bool ColorsFitOneTable(TGIFImage& image) {
  std::vector<uint32_t> values;  // sorted, without repeats
  const bool animated = image.Images().Count() > 1;
  bool transparency = animated && image.IsTransparent();
  TGIFGlobalColorMap& global = image.GlobalColorMap();
  if (global.Count() > 0) {
    const int bg = image.BackgroundColorIndex();
    values.push_back(ColorValue(global.Data()[bg < global.Count() ? bg : 0]));
  } else if (animated && !image.IsTransparent()) {
    values.push_back(uint32_t(clWindow) & 0xFFFFFF);
  }
  // The colours so far, sorted without repeats; each frame adds at most 256.
  std::vector<uint32_t> frameValues, merged;
  for (int i = 0; i < image.Images().Count(); ++i) {
    TGIFFrame& f = *image.Images().Frames(i);
    if (f.Empty()) continue;
    const int t = f.Transparent() ? f.GraphicControlExtension()->TransparentColorIndex() : -1;
    bool used[256] = {};
    for (size_t k = 0; k < f.DataSize(); ++k) used[f.Data()[k]] = true;
    const TGIFColorMap& map = f.ActiveColorMap();
    frameValues.clear();
    for (int index = 0; index < 256; ++index) {
      if (!used[index]) continue;
      if (index == t) {
        transparency = true;
        continue;
      }
      if (index >= map.Count()) return false;  // a damaged frame: left as it is
      frameValues.push_back(ColorValue(map.Data()[index]));
    }
    std::sort(frameValues.begin(), frameValues.end());
    merged.clear();
    std::set_union(values.begin(), values.end(), frameValues.begin(), frameValues.end(),
                   std::back_inserter(merged));
    values.swap(merged);
    if (values.size() > 256) return false;
  }
  return values.size() <= (transparency ? 255u : 256u);
}

// Written without forcing the bytes to disk, as file tools do; the stream's own
// SaveToFile syncs, which costs more than the whole optimization of a small file.
void WriteFile(const std::string& path, TMemoryStream& bytes) {
  TFileStream file(path, fmCreate);
  file.WriteBuffer(bytes.Memory(), bytes.Size());
}

}  // namespace

int CmdOptimiser(const TArgs& args) {
  ExpectArgCount(args, 2, 4);
  TGIFOptimizeOptions options = ooAll;
  if (args.size() == 4 && args[2] == "--options")
    options = ParseOptions(args[3]);
  else if (args.size() != 2)
    throw TUsageError("argument inattendu « " + args[2] + " »");

  TMemoryStream input;
  input.LoadFromFile(args[0]);
  TGIFImage image;
  image.LoadFromStream(input);
  const std::vector<TFrameBefore> before = DescribeFrames(image);
  // Frames with their own tables share one when that loses no colour; the merge step then
  // finds a free entry for transparency more often.
  TMemoryStream output;
  try {
    if ((options & ooColorMap) && image.Images().Count() > 0 && ColorsFitOneTable(image)) {
      image.OptimizeColorMap();
      // The one table is ordered by use already: sorting it again would count every pixel
      // for nothing.
      options &= TGIFOptimizeOptions(~ooColorMap);
    }
    if (options) image.Optimize(options);
    image.SetCompactEncoding(true);
    image.SaveToStream(output);
  } catch (const GIFException& e) {
    // A damaged file (a pixel beyond its colour table) stays as it is.
    std::cout << "Optimisation impossible (" << e.Message()
              << ") : l'entrée est écrite telle quelle\n";
    WriteFile(args[1], input);
    return 0;
  }
  ReportRemovedFrames(before, image);

  if (output.Size() >= input.Size()) {
    std::cout << "Le résultat (" << output.Size() << " octets) n'est pas plus petit que l'entrée ("
              << input.Size() << " octets) : l'entrée est écrite telle quelle\n";
    WriteFile(args[1], input);
    return 0;
  }
  WriteFile(args[1], output);
  std::cout << args[0] << " : " << input.Size() << " octets, " << args[1] << " : " << output.Size()
            << " octets\n";
  return 0;
}
