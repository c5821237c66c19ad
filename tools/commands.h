// The commands of vitrelle-img: each one is a function over its arguments (the words after
// the command name). Adding a command is one line in kCommands.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

using TArgs = std::vector<std::string>;

// Wrong or missing arguments: the tool prints the message and the usage, and exits with 2.
class TUsageError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct TCommand {
  const char* Name;
  const char* Usage;    // arguments, as shown by --help
  const char* Summary;  // one line of help
  int (*Run)(const TArgs& args);
};

int CmdInfo(const TArgs& args);
int CmdConvert(const TArgs& args);
int CmdRender(const TArgs& args);
#ifdef VITRELLE_HAS_GIF
int CmdOptimiser(const TArgs& args);
#endif
#ifdef VITRELLE_HAS_WORKSPACE
int CmdComposer(const TArgs& args);
#endif

inline const TCommand kCommands[] = {
    {"info", "FICHIER", "affiche la classe, la taille et la transparence d'une image", CmdInfo},
    {"convert", "ENTREE SORTIE",
     "convertit une image dans le format donné par l'extension de la sortie", CmdConvert},
    {"render", "ENTREE SORTIE.ppm [--fond RRGGBB] [--taille LxH] [--redresser] [--trame N]",
     "dessine l'image sur un fond (une animation GIF après N pas avec --trame) et l'écrit en "
     "PPM binaire",
     CmdRender},
#ifdef VITRELLE_HAS_GIF
    {"optimiser", "ENTREE.gif SORTIE.gif [--options crop,merge,cleanup,colormap]",
     "réduit un GIF sans changer ce qu'il montre (jamais plus gros que l'entrée)", CmdOptimiser},
#endif
#ifdef VITRELLE_HAS_WORKSPACE
    {"composer",
     "--photo PHOTO --produit PRODUIT --cadre X1,Y1,X2,Y2 [--mode proportionnel|personnalise] "
     "[--deplacer DX,DY] [--touches gauche,droite,haut,bas,maj+gauche...] "
     "[--coins X1,Y1,X2,Y2,X3,Y3,X4,Y4] [--fixer [--produit P] --cadre ...]... "
     "[--mention aucune|blanche|noire] [--vue LxH] [--pleine-resolution] SORTIE",
     "compose une maquette comme la fenêtre de Vitrelle", CmdComposer},
#endif
};

// Helpers shared by the commands.
void ExpectArgCount(const TArgs& args, size_t min, size_t max);
