// vitrelle-img composer: the window's whole flow on the command line, through the same
// workspace handlers, so that it writes the file the window's export would write.
#include <algorithm>
#include <charconv>
#include <iostream>

#include "ModulePhotos.h"
#include "commands.h"

namespace {

// "A,B" or "A,B,C,D" (separator ',' or 'x'): exactly `count` integers.
std::vector<int> ParseInts(const std::string& text, size_t count, char separator,
                           const char* what) {
  std::vector<int> values;
  const char* p = text.data();
  const char* end = p + text.size();
  while (p <= end) {
    int v = 0;
    const auto [next, ec] = std::from_chars(p, end, v);
    if (ec != std::errc()) break;
    values.push_back(v);
    p = next;
    if (p == end) {
      if (values.size() == count) return values;
      break;
    }
    if (*p != separator) break;
    ++p;
  }
  throw TUsageError(std::string("valeur invalide pour ") + what + " : « " + text + " »");
}

// "gauche,droite,haut,bas,maj+gauche": arrow presses, "maj+" for Shift (ten pixels).
std::vector<TComposerJob::TKey> ParseKeys(const std::string& text) {
  static const std::pair<const char*, uint16_t> kNames[] = {
      {"gauche", vkLeft}, {"droite", vkRight}, {"haut", vkUp}, {"bas", vkDown}};
  std::vector<TComposerJob::TKey> keys;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t comma = std::min(text.find(',', start), text.size());
    std::string word = text.substr(start, comma - start);
    TComposerJob::TKey key;
    if (word.rfind("maj+", 0) == 0) {
      key.Shift = ssShift;
      word.erase(0, 4);
    }
    const auto* found = std::find_if(std::begin(kNames), std::end(kNames),
                                     [&word](const auto& n) { return word == n.first; });
    if (found == std::end(kNames))
      throw TUsageError("touche inconnue pour --touches : « " + text.substr(start, comma - start) +
                        " » (gauche, droite, haut, bas, avec maj+ pour dix pixels)");
    key.Key = found->second;
    keys.push_back(key);
    start = comma + 1;
  }
  return keys;
}

const std::string& NextValue(const TArgs& args, size_t& i) {
  if (i + 1 >= args.size()) throw TUsageError("valeur manquante après " + args[i]);
  return args[++i];
}

// The text that followed an option, for the messages.
std::string ValueOf(const TArgs& args, const char* option) {
  for (size_t i = 0; i + 1 < args.size(); ++i)
    if (args[i] == option) return args[i + 1];
  return {};
}

// A mouse on the photo control reports positions within its width and height (a frame's
// right and bottom edges may lie on the control's edge), and a drag moves the product by
// at most the control's size. Anything further is a typing mistake: refused here, before
// a frame of a billion pixels is drawn or a sum of coordinates overflows.
void CheckReach(const TComposerJob& job, const TArgs& args) {
  const int w = job.ViewWidth, h = job.ViewHeight;
  for (int x : {job.X1, job.X2})
    for (int y : {job.Y1, job.Y2})
      if (x < 0 || x > w || y < 0 || y > h)
        throw TUsageError("--cadre hors de la vue de " + std::to_string(w) + " x " +
                          std::to_string(h) + " (x de 0 à " + std::to_string(w) + ", y de 0 à " +
                          std::to_string(h) + ") : « " + ValueOf(args, "--cadre") + " »");
  if (job.Drag && (job.DragX < -w || job.DragX > w || job.DragY < -h || job.DragY > h))
    throw TUsageError("--deplacer plus grand que la vue de " + std::to_string(w) + " x " +
                      std::to_string(h) + " : « " + ValueOf(args, "--deplacer") + " »");
}

TComposerJob ParseJob(const TArgs& args) {
  TComposerJob job;
  bool hasFrame = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--photo") {
      job.PhotoPath = NextValue(args, i);
    } else if (a == "--produit") {
      job.ProductPath = NextValue(args, i);
    } else if (a == "--cadre") {
      const std::vector<int> v = ParseInts(NextValue(args, i), 4, ',', "--cadre");
      job.X1 = v[0], job.Y1 = v[1], job.X2 = v[2], job.Y2 = v[3];
      hasFrame = true;
    } else if (a == "--mode") {
      const std::string& m = NextValue(args, i);
      if (m != "proportionnel" && m != "personnalise")
        throw TUsageError("mode inconnu : « " + m + " »");
      job.Proportional = m == "proportionnel";
    } else if (a == "--deplacer") {
      const std::vector<int> v = ParseInts(NextValue(args, i), 2, ',', "--deplacer");
      job.Drag = true;
      job.DragX = v[0], job.DragY = v[1];
    } else if (a == "--touches") {
      job.Keys = ParseKeys(NextValue(args, i));
    } else if (a == "--mention") {
      const std::string& m = NextValue(args, i);
      if (m == "aucune")
        job.Mention = 0;
      else if (m == "blanche")
        job.Mention = 1;
      else if (m == "noire")
        job.Mention = 2;
      else
        throw TUsageError("mention inconnue : « " + m + " »");
    } else if (a == "--vue") {
      const std::vector<int> v = ParseInts(NextValue(args, i), 2, 'x', "--vue");
      if (v[0] <= 0 || v[1] <= 0 || v[0] > 20000 || v[1] > 20000)
        throw TUsageError("taille de vue invalide : « " + args[i] + " »");
      job.ViewWidth = v[0], job.ViewHeight = v[1];
    } else if (!a.empty() && a[0] == '-' && a.size() > 1) {
      throw TUsageError("option inconnue : « " + a + " »");
    } else if (job.OutputPath.empty()) {
      job.OutputPath = a;
    } else {
      throw TUsageError("trop d'arguments");
    }
  }
  CheckReach(job, args);
  if (job.PhotoPath.empty()) throw TUsageError("--photo manquant");
  if (job.ProductPath.empty()) throw TUsageError("--produit manquant");
  if (!hasFrame) throw TUsageError("--cadre manquant");
  if (job.OutputPath.empty()) throw TUsageError("SORTIE manquante");
  return job;
}

}  // namespace

int CmdComposer(const TArgs& args) {
  const TComposerResult result = RunComposerJob(ParseJob(args));
  if (result.ExitCode != 0) std::cerr << result.Message << "\n";
  return result.ExitCode;
}
