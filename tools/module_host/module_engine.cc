#include "tools/module_host/module_engine.h"


#include <cstdio>
#include <filesystem>
#include <optional>
#include <string_view>

#include "do_not_track/service_component.h"
#include "do_not_track/session.h"
#include "host/capturing_tracer.h"
#include "host/counting_allocator.h"
#include "host/environment.h"
#include "host/http_message.h"
#include "host/memory_data_storage.h"
#include "host/packed_io_factory.h"
#include "host/service_locator.h"
#include "orv/object.h"
#include "orv/rtl/error_handling/result_text.h"
#include "orv/system/loadable_module.h"
#include "orv/text/utf.h"
#include "tools/module_host/failure_lines.h"

namespace module_host {
namespace {

constexpr uint32_t FirstCategory = dnt::category::SocialNetwork;
constexpr uint32_t LastCategory = dnt::category::WebBug;

// Turns failed calls into EngineError, with the failure lines the engine
// traced for them when they are kept.
class Failures {
 public:
  explicit Failures(bool kept) : m_kept(kept) {}

  /// The lines a successful call traced (none when they are not kept).
  std::vector<FailureLines::Line> Check(orv::result_t code, const std::string& call) const {
    std::vector<FailureLines::Line> lines = m_kept ? FailureLines::Take() : std::vector<FailureLines::Line>();
    if (orv::Succeeded(code)) return lines;
    std::string text = call + " failed: " + orv::DescribeResultCode(code);
    for (const FailureLines::Line& line : lines) {
      if (line.level <= orv::trace_level::Failure) text += "; " + line.text;
    }
    throw EngineError(text);
  }

 private:
  bool m_kept;
};

class ModuleSession final : public EngineSession {
 public:
  ModuleSession(orv::ComPtr<dnt::IHttpSessionProcessor> processor, const Failures& failures)
      : m_processor(std::move(processor)), m_failures(failures) {}

  // The engine reads and changes the message through the header object and
  // answers it in place of the server through the controller, which records
  // the answer in the message. A host with its own HTTP stack implements the
  // same SDK interfaces over that stack.
  bool ProcessRequest(const std::shared_ptr<host::HttpMessage>& request) override {
    const auto header = host::MakeRequestHeader(request);
    const auto controller = host::MakeController(request);
    const dnt::RequestParams params{header.Get()};
    bool responseProcessingRequired = false;
    m_failures.Check(m_processor->ProcessRequest(&params, controller.Get(), &responseProcessingRequired),
                     "ProcessRequest");
    return responseProcessingRequired;
  }

  void ProcessResponse(const std::shared_ptr<host::HttpMessage>& response) override {
    const auto header = host::MakeResponseHeader(response);
    const auto controller = host::MakeController(response);
    const dnt::ResponseParams params{header.Get()};
    m_failures.Check(m_processor->ProcessResponse(&params, controller.Get()), "ProcessResponse");
  }

  SessionVerdict Verdict() override {
    dnt::TrackingVerdict verdict;
    m_failures.Check(m_processor->GetVerdict(&verdict), "GetVerdict");
    SessionVerdict result{verdict.verdict, std::nullopt};
    if (verdict.serviceId != 0 || !verdict.serviceName.empty()) {
      result.service = TrackingService{verdict.serviceId, verdict.serviceCategory, orv::text::ToUtf8(verdict.serviceName)};
    }
    return result;
  }

 private:
  orv::ComPtr<dnt::IHttpSessionProcessor> m_processor;
  const Failures& m_failures;
};

// The bug database's build time from the line that says it loaded:
// "Bug bases built on LOCAL (UTC) successfully loaded"; nullopt when no
// line says so.
std::optional<std::string> BuiltOn(const std::vector<FailureLines::Line>& lines) {
  static constexpr std::string_view Loaded = "Bug bases", Built = " built on ";
  for (const FailureLines::Line& line : lines) {
    const std::string_view text = line.text;
    if (line.level != orv::trace_level::Milestone || text.rfind(Loaded, 0) != 0) continue;
    const auto open = text.find('(', Loaded.size()), close = text.find(')', Loaded.size());
    if (text.substr(Loaded.size(), Built.size()) != Built || open == std::string_view::npos || close < open) return "";
    return std::string(text.substr(open + 1, close - open - 1));
  }
  return std::nullopt;
}

orv::ComPtr<host::MemoryDataStorage> MakeStorage(const BaseFileSet& files) {
  auto storage = host::MakeHostObject<host::MemoryDataStorage>();
  for (const BaseFile& file : files) {
    const auto name = orv::text::FromUtf8(file.name);
    if (!name) throw EngineError("the base file name " + file.name + " is not UTF-8");
    storage->AddFile(*name, std::vector<uint8_t>(file.bytes.begin(), file.bytes.end()));
  }
  return storage;
}

}  // namespace

// The loaded library and its two exports. Unloaded only when the module
// says it holds no live object.
struct ModuleEngine::Module {
  orv::system::LoadableModule library;
  decltype(&orvGetObjectFactory) getObjectFactory = nullptr;
  decltype(&orvCanUnloadModule) canUnloadModule = nullptr;

  explicit Module(const std::string& path) {
    std::string reason;
    if (!library.Load(path, reason)) throw EngineError("cannot load " + path + ": " + reason);
    getObjectFactory = reinterpret_cast<decltype(getObjectFactory)>(library.Symbol("orvGetObjectFactory"));
    canUnloadModule = reinterpret_cast<decltype(canUnloadModule)>(library.Symbol("orvCanUnloadModule"));
    if (!getObjectFactory || !canUnloadModule) {
      throw EngineError(path + " does not export orvGetObjectFactory and orvCanUnloadModule");
    }
  }
  ~Module() {
    if (canUnloadModule() != 0) {
      // Unloading would pull the code from under the objects still alive.
      std::fputs("the engine module still holds objects; it stays loaded\n", stderr);
      library.Abandon();
    }
  }
};

// The host services and the engine's objects, released before the module.
struct ModuleEngine::Objects {
  orv::ComPtr<orv::ITracer> tracer;
  Failures failures;
  orv::ComPtr<host::ServiceLocator> locator;
  orv::ComPtr<dnt::IComponentInit> component;
  orv::ComPtr<dnt::IProcessorFactory> service;

  Objects(orv::ComPtr<orv::ITracer> tracer, bool kept) : tracer(std::move(tracer)), failures(kept) {}
};

ModuleEngine::ModuleEngine(const ModuleEngineOptions& options) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (!fs::is_directory(options.basesDirectory, error)) {
    throw EngineError("the bases directory " + options.basesDirectory + " does not exist");
  }
  m_module = std::make_unique<Module>(options.modulePath);
  orv::ComPtr<orv::ITracer> tracer;
  if (options.trace) {
    tracer = host::MakeHostObject<host::StreamTracer>(stderr, orv::trace_level::Routine);
  } else {
    tracer = host::MakeHostObject<FailureLines>();
  }
  m_objects = std::make_unique<Objects>(tracer, !options.trace);
  Objects& objects = *m_objects;

  objects.locator = host::MakeHostObject<host::ServiceLocator>();
  objects.locator->Register(tracer);
  objects.locator->Register(orv::ComPtr<orv::IAllocator>(host::MakeHostObject<host::CountingAllocator>()));
  objects.locator->Register(orv::ComPtr<orv::IPackedIOFactory>(host::MakeHostObject<host::PackedIOFactory>()));
  const auto basesDirectory = orv::text::FromUtf8(fs::absolute(options.basesDirectory).string());
  if (!basesDirectory) throw EngineError("the bases directory name is not UTF-8");
  objects.locator->Register(orv::ComPtr<orv::IEnvironment>(host::MakeHostObject<host::Environment>(*basesDirectory)));

  orv::ComPtr<orv::IObjectFactory> factory;
  objects.failures.Check(m_module->getObjectFactory(objects.locator.Get(), orv::ServiceComponentClassId, factory.Put()),
                         "orvGetObjectFactory");
  objects.failures.Check(factory->CreateInstance(objects.locator.Get(), dnt::IComponentInit::iid,
                                                 objects.component.PutVoid()),
                         "CreateInstance");
  if (!options.baseFiles.empty()) {
    const auto consumer = objects.component.As<dnt::IStorageConsumer>();
    if (!consumer) throw EngineError("the service component does not answer IStorageConsumer");
    objects.failures.Check(consumer->SetStorage(MakeStorage(options.baseFiles).Get()), "SetStorage");
  }
  const auto loaded = objects.failures.Check(objects.component->Verify(nullptr), "Verify");
  objects.failures.Check(objects.component->Init(nullptr), "Init");
  m_builtOn = BuiltOn(loaded).value_or("");
}

ModuleEngine::~ModuleEngine() { m_objects.reset(); }

std::vector<TrackingService> ModuleEngine::Services() {
  const auto basesInfo = m_objects->component.As<dnt::IDntBasesInfo>();
  if (!basesInfo) throw EngineError("the service component does not answer IDntBasesInfo");
  std::vector<TrackingService> services;
  for (uint32_t category = FirstCategory; category <= LastCategory; ++category) {
    std::vector<dnt::SupportedTrackingService> supported;
    m_objects->failures.Check(basesInfo->GetSupportedTrackingServices(category, &supported),
                              "GetSupportedTrackingServices");
    for (const auto& service : supported) {
      services.push_back({service.id, service.category, orv::text::ToUtf8(service.name)});
    }
  }
  return services;
}

void ModuleEngine::Start(const dnt::ServiceSettings& settings) {
  const auto provider = m_objects->component.As<dnt::IDntServiceProvider>();
  if (!provider) throw EngineError("the service component does not answer IDntServiceProvider");
  m_objects->failures.Check(provider->CreateDntService(&settings, m_objects->service.Put()), "CreateDntService");
}

bool ModuleEngine::ProcessingRequired(const std::string& domain) {
  if (!m_objects->service) throw EngineError("the DNT service is not started");
  bool required = true;
  m_objects->failures.Check(m_objects->service->IsDomainProcessingRequired(domain, &required),
                            "IsDomainProcessingRequired");
  return required;
}

std::unique_ptr<EngineSession> ModuleEngine::OpenSession(const std::string& domain) {
  if (!m_objects->service) throw EngineError("the DNT service is not started");
  const dnt::SessionParams params{domain, false};
  orv::ComPtr<dnt::IHttpSessionProcessor> processor;
  m_objects->failures.Check(m_objects->service->CreateHttpSessionProcessor(&params, processor.Put()),
                            "CreateHttpSessionProcessor");
  return std::make_unique<ModuleSession>(std::move(processor), m_objects->failures);
}

void ModuleEngine::UpdateBases() { Update(nullptr); }

void ModuleEngine::UpdateBases(const BaseFileSet& files) { Update(MakeStorage(files).Get()); }

void ModuleEngine::Update(orv::IDataStorage* storage) {
  const auto handler = m_objects->component.As<dnt::IBasesUpdateHandler>();
  const auto fromStorage = m_objects->component.As<dnt::IBasesUpdateHandler2>();
  if (!handler || !fromStorage) throw EngineError("the service component does not answer the bases update handlers");
  std::optional<std::string> builtOn;
  try {
    builtOn = BuiltOn(m_objects->failures.Check(fromStorage->VerifyBasesUpdate(storage), "VerifyBasesUpdate"));
    m_objects->failures.Check(handler->HandleBasesUpdate(), "HandleBasesUpdate");
  } catch (const EngineError&) {
    handler->RollbackUpdate();
    throw;
  }
  std::lock_guard guard(m_builtOnLock);
  m_builtOn = builtOn.value_or("");
}

std::string ModuleEngine::BasesBuiltOn() const {
  std::lock_guard guard(m_builtOnLock);
  return m_builtOn;
}

}  // namespace module_host
