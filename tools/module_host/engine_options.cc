#include "tools/module_host/engine_options.h"

#include "tools/module_host/default_paths.h"

namespace module_host {

void AddEngineOptions(CLI::App& app, ModuleEngineOptions& module, SettingsOptions& settings) {
  module.basesDirectory = DefaultBasesDirectory();
  module.modulePath = DefaultModulePath();
  app.add_option("--bases", module.basesDirectory, "bases directory")->capture_default_str();
  app.add_option("--module", module.modulePath, "the engine module")->capture_default_str();
  app.add_option("--block", settings.blockCategories,
                 "block the services of a category: social, analytics, ad, web-bug or 1-4 (repeatable)")
      ->check(CLI::Validator(
          [](const std::string& text) {
            try {
              ParseCategory(text);
              return std::string();
            } catch (const std::invalid_argument& e) {
              return std::string(e.what());
            }
          },
          "CATEGORY"));
  app.add_option("--block-service", settings.blockServices, "block a service, by id or name (repeatable)");
  app.add_option("--allow-service", settings.allowServices,
                 "let a service through even when its category is blocked, by id or name (repeatable)");
  app.add_flag("--dnt", settings.addDntHeader, "ask the engine to add \"DNT: 1\" and \"Sec-GPC: 1\" to requests");
  app.add_flag("--scan-partner-sites", settings.scanPartnerSites, "do not exclude partner sites");
  app.add_flag("--scan-incompatible-sites", settings.scanIncompatibleSites, "do not exclude incompatible sites");
  app.add_flag("--trace", module.trace, "print the engine's trace lines to standard error");
  app.add_flag("--verbose-trace", settings.verboseTrace, "ask the base scripts for their own trace lines");
}

}  // namespace module_host
