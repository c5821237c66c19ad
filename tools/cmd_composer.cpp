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
void CheckReach(const TComposerJob& job, const TComposerPlacement& p, const TArgs& args) {
  const int w = job.ViewWidth, h = job.ViewHeight;
  for (int x : {p.X1, p.X2})
    for (int y : {p.Y1, p.Y2})
      if (x < 0 || x > w || y < 0 || y > h)
        throw TUsageError("--cadre hors de la vue de " + std::to_string(w) + " x " +
                          std::to_string(h) + " (x de 0 à " + std::to_string(w) + ", y de 0 à " +
                          std::to_string(h) + ") : « " + ValueOf(args, "--cadre") + " »");
  if (p.Drag && (p.DragX < -w || p.DragX > w || p.DragY < -h || p.DragY > h))
    throw TUsageError("--deplacer plus grand que la vue de " + std::to_string(w) + " x " +
                      std::to_string(h) + " : « " + ValueOf(args, "--deplacer") + " »");
  if (!p.HasCorners) return;
  for (const TPointD& c : p.Corners)
    if (c.X < 0 || c.X > w || c.Y < 0 || c.Y > h)
      throw TUsageError("--coins hors de la vue de " + std::to_string(w) + " x " +
                        std::to_string(h) + " (x de 0 à " + std::to_string(w) + ", y de 0 à " +
                        std::to_string(h) + ") : « " + ValueOf(args, "--coins") + " »");
  if (!IsConvexQuad(p.Corners))
    throw TUsageError(
        "--coins ne forment pas un quadrilatère convexe (haut-gauche, haut-droite, bas-droite, "
        "bas-gauche, sans croisement ni creux) : « " +
        ValueOf(args, "--coins") + " »");
}

TComposerJob ParseJob(const TArgs& args) {
  TComposerJob job;
  // The options of a product apply to the one being placed: the job's own first, then
  // after each --fixer the next one (same product picture unless --produit changes it).
  std::vector<TComposerPlacement> placements(1);
  std::vector<bool> framed(1, false);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    TComposerPlacement& current = placements.back();
    if (a == "--photo") {
      job.PhotoPath = NextValue(args, i);
    } else if (a == "--produit") {
      current.ProductPath = NextValue(args, i);
    } else if (a == "--cadre") {
      const std::vector<int> v = ParseInts(NextValue(args, i), 4, ',', "--cadre");
      current.X1 = v[0], current.Y1 = v[1], current.X2 = v[2], current.Y2 = v[3];
      framed.back() = true;
    } else if (a == "--coins") {
      const std::vector<int> v = ParseInts(NextValue(args, i), 8, ',', "--coins");
      for (size_t c = 0; c < 4; ++c)
        current.Corners[c] = TPointD{double(v[2 * c]), double(v[2 * c + 1])};
      current.HasCorners = true;
    } else if (a == "--fixer") {
      current.Fix = true;
      TComposerPlacement next;
      next.ProductPath = current.ProductPath;
      placements.push_back(next);
      framed.push_back(false);
    } else if (a == "--mode") {
      const std::string& m = NextValue(args, i);
      if (m != "proportionnel" && m != "personnalise")
        throw TUsageError("mode inconnu : « " + m + " »");
      job.Proportional = m == "proportionnel";
    } else if (a == "--deplacer") {
      const std::vector<int> v = ParseInts(NextValue(args, i), 2, ',', "--deplacer");
      current.Drag = true;
      current.DragX = v[0], current.DragY = v[1];
    } else if (a == "--touches") {
      current.Keys = ParseKeys(NextValue(args, i));
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
    } else if (a == "--pleine-resolution") {
      job.FullResolution = true;
    } else if (!a.empty() && a[0] == '-' && a.size() > 1) {
      throw TUsageError("option inconnue : « " + a + " »");
    } else if (job.OutputPath.empty()) {
      job.OutputPath = a;
    } else {
      throw TUsageError("trop d'arguments");
    }
  }
  // After the last --fixer nothing more needs to be placed; anything else needs a frame.
  const TComposerPlacement& last = placements.back();
  if (placements.size() > 1 && !framed.back() && !last.Drag && last.Keys.empty() &&
      !last.HasCorners) {
    placements.pop_back();
    framed.pop_back();
  }
  for (size_t p = 1; p < placements.size(); ++p)
    if (!framed[p]) throw TUsageError("--cadre manquant pour le produit suivant --fixer");
  for (const TComposerPlacement& p : placements) CheckReach(job, p, args);
  static_cast<TComposerPlacement&>(job) = placements.front();
  job.Next.assign(placements.begin() + 1, placements.end());
  if (job.PhotoPath.empty()) throw TUsageError("--photo manquant");
  if (job.ProductPath.empty()) throw TUsageError("--produit manquant");
  if (!framed.front()) throw TUsageError("--cadre manquant");
  if (job.OutputPath.empty()) throw TUsageError("SORTIE manquante");
  return job;
}

}  // namespace

int CmdComposer(const TArgs& args) {
  const TComposerResult result = RunComposerJob(ParseJob(args));
  if (result.ExitCode == 2) throw TUsageError(result.Message);
  if (result.ExitCode != 0) std::cerr << result.Message << "\n";
  return result.ExitCode;
}
