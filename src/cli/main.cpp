// velto-ctl: Velto Camera from the command line.
#include <QCoreApplication>
#include <iostream>

#include "cli/ctl_arguments.h"
#include "cli/ctl_runner.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("velto-ctl");
  std::vector<std::string> args(argv + 1, argv + argc);
  const velto::cli::ParseResult parsed = velto::cli::parseArguments(args);
  if (!parsed.request) {
    std::cerr << "velto-ctl: " << parsed.error << "\n" << velto::cli::kUsageText;
    return velto::cli::kUsage;
  }
  return velto::cli::runCtl(*parsed.request, std::cout, std::cerr);
}
