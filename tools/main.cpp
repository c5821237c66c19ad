// vitrelle-img: the command-line companion of Vitrelle. Every picture goes through the
// framework's registry, so each codec registered at start works here at once.
#include <cstring>
#include <iostream>

#include "codecs.h"
#include "commands.h"
#include "framework.h"
#include "vitrelle_version.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

void PrintUsage(std::ostream& out) {
  out << "Utilisation : vitrelle-img COMMANDE ARGUMENTS...\n\nCommandes :\n";
  for (const TCommand& c : kCommands)
    out << "  " << c.Name << " " << c.Usage << "\n      " << c.Summary << "\n";
  out << "\nOptions :\n  --help     cette aide\n  --version  la version de Vitrelle\n";
  out << "\nFormats d'image connus :";
  for (const TPicture::TFileFormat& f : TPicture::FileFormats()) out << " ." << f.Extension;
  out << "\n";
}

const TCommand* FindCommand(const std::string& name) {
  for (const TCommand& c : kCommands)
    if (name == c.Name) return &c;
  return nullptr;
}

int Run(int argc, char** argv) {
  if (argc >= 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
    PrintUsage(std::cout);
    return kExitOk;
  }
  if (argc == 2 && !std::strcmp(argv[1], "--version")) {
    std::cout << "vitrelle-img " VITRELLE_VERSION "\n";
    return kExitOk;
  }
  if (argc < 2) {
    PrintUsage(std::cerr);
    return kExitUsage;
  }
  const TCommand* cmd = FindCommand(argv[1]);
  if (!cmd) {
    std::cerr << "vitrelle-img : commande inconnue « " << argv[1] << " »\n\n";
    PrintUsage(std::cerr);
    return kExitUsage;
  }
  try {
    return cmd->Run(TArgs(argv + 2, argv + argc));
  } catch (const TUsageError& e) {
    std::cerr << "vitrelle-img " << cmd->Name << " : " << e.what() << "\n"
              << "Utilisation : vitrelle-img " << cmd->Name << " " << cmd->Usage << "\n";
    return kExitUsage;
  }
}

}  // namespace

void ExpectArgCount(const TArgs& args, size_t min, size_t max) {
  if (args.size() < min) throw TUsageError("argument manquant");
  if (args.size() > max) throw TUsageError("trop d'arguments");
}

int main(int argc, char** argv) {
  TCodecRegistration codecs;
  try {
    return Run(argc, argv);
  } catch (const EAbort&) {
    return kExitFailure;
  } catch (const Exception& e) {
    std::cerr << e.Message() << "\n";
    return kExitFailure;
  } catch (const std::bad_alloc&) {
    std::cerr << "Mémoire insuffisante\n";
    return kExitFailure;
  }
}
