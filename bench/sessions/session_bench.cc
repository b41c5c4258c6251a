// What a session costs the host: a processor created, one GET through the
// request script and the verdict read (per session), and one more GET on a
// warm processor (per request); on the sample bases, on the default bases
// (real tracking services, the default policy scripts), and on a generated
// database of 10k rules under the default scripts; on one and two threads.
//
// The Host* benchmarks give a host's bill as the host sees it: the module
// loaded through its exports, on the default bases, a tracked GET with its
// response and the verdict; per whole session, per further request on a warm
// processor, and the resident memory per live session.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "bench/bases/synthetic_database.h"
#include "bench/sessions/module_host.h"
#include "cmake/build_paths.h"
#include "do_not_track/util/base_files.h"
#include "host/capturing_tracer.h"
#include "host/counting_allocator.h"
#include "host/environment.h"
#include "host/http_message.h"
#include "host/memory_io.h"
#include "host/service_locator.h"
#include "source/sessions/processor_factory.h"

namespace {

using orv::ComPtr;

// Failures only, and no lock for the refused levels, so that the host's
// tracer does not serialise the threads being measured.
ComPtr<orv::ITracer> QuietTracer() {
  return ComPtr<orv::ITracer>(host::MakeHostObject<host::StreamTracer>(stderr, orv::trace_level::Failure));
}

// Ad agencies blocked, the other trackers stripped of cookies and Referer.
dnt::ServiceSettings BenchSettings() {
  dnt::ServiceSettings settings = dnt::ServiceSettings::Defaults();
  settings.blockTrackingServiceCategories.push_back(dnt::category::AdAgency);
  return settings;
}

struct Fixture {
  ComPtr<host::ServiceLocator> locator = host::MakeHostObject<host::ServiceLocator>();
  ComPtr<orv::ITracer> tracer = QuietTracer();
  ComPtr<dnt::BasesSlot> slot{new dnt::BasesSlot()};
  ComPtr<dnt::ProcessorFactory> factory;
  std::vector<std::string> urls;

  explicit Fixture(ComPtr<dnt::Bases> bases, std::vector<std::string> requestUrls) : urls(std::move(requestUrls)) {
    locator->Register(ComPtr<orv::IAllocator>(host::MakeHostObject<host::CountingAllocator>()));
    locator->Register(tracer);
    slot->Set(bases.Get());
    factory = dnt::rtl::MakeComponent<dnt::ProcessorFactory>(locator.Get(), BenchSettings(), slot);
  }
};

std::u16string Utf16(const char* path) { return std::filesystem::path(path).u16string(); }

ComPtr<dnt::Bases> LoadDirectory(const std::u16string& directory, ComPtr<orv::ITracer> tracer) {
  auto locator = host::MakeHostObject<host::ServiceLocator>();
  locator->Register(ComPtr<orv::IEnvironment>(host::MakeHostObject<host::Environment>(directory)));
  const dnt::BaseFiles files = dnt::CollectBaseFiles(locator.Get(), tracer.Get(), nullptr);
  return ComPtr<dnt::Bases>(new dnt::Bases(tracer, files.scriptStreams, files.bugStream.Get()));
}

Fixture& Sample() {
  static Fixture fixture(LoadDirectory(Utf16(DNT_SAMPLE_BASES), QuietTracer()),
                         {"http://connect.friendface.test/en_US/sdk.js", "https://ads.adbroker.example/serve/banner?id=42",
                          "http://www.example.test/index.html"});
  return fixture;
}

// Requests of a real page load: first party, analytics, ads, a CDN.
Fixture& Default() {
  static Fixture fixture(LoadDirectory(Utf16(DNT_DEFAULT_BASES), QuietTracer()),
                         {"https://www.ferguson.com/wwwstatic/css/ferguson/common/font/295157_7A_0.woff",
                          "https://www.google-analytics.com/collect?v=1&t=pageview&tid=UA-1",
                          "https://stats.g.doubleclick.net/j/collect?t=dc&aip=1",
                          "https://connect.facebook.net/en_US/fbevents.js",
                          "https://cdn.appdynamics.com/adrum/adrum-21.4.0.3405.js"});
  return fixture;
}

// The default scripts (read from the default bases' script file) over a
// generated database of 10k rules.
Fixture& TenThousandRules() {
  static Fixture fixture = [] {
    dnt::bench::SyntheticDatabase synthetic = dnt::bench::MakeSyntheticDatabase(10000, 1000, 1000);
    const ComPtr<orv::ITracer> tracer = QuietTracer();
    auto locator = host::MakeHostObject<host::ServiceLocator>();
    locator->Register(ComPtr<orv::IEnvironment>(host::MakeHostObject<host::Environment>(Utf16(DNT_DEFAULT_BASES))));
    const dnt::BaseFiles files = dnt::CollectBaseFiles(locator.Get(), tracer.Get(), nullptr);
    const auto bugs = host::MakeHostObject<host::MemoryIO>(dnt::bases_writer::Write(synthetic.database));
    return Fixture(ComPtr<dnt::Bases>(new dnt::Bases(tracer, files.scriptStreams, bugs.Get())), synthetic.urls);
  }();
  return fixture;
}

bool Get(dnt::IHttpSessionProcessor& processor, const std::string& url) {
  auto message = std::make_shared<host::HttpMessage>(dnt::HttpRequestLine{url, "GET", "HTTP/1.1"},
                                                     std::vector<host::HttpField>{{"Cookie", "id=1; session=2"}});
  const auto header = host::MakeRequestHeader(message);
  const auto controller = host::MakeController(message);
  const dnt::RequestParams params{header.Get()};
  bool required = false;
  return processor.ProcessRequest(&params, controller.Get(), &required) == 0;
}

void PerSession(benchmark::State& state, Fixture& (*fixture)()) {
  Fixture& f = fixture();
  const dnt::SessionParams params{"site.test", false};
  std::size_t next = static_cast<std::size_t>(state.thread_index()) * 7;
  for (auto _ : state) {
    ComPtr<dnt::IHttpSessionProcessor> processor;
    f.factory->CreateHttpSessionProcessor(&params, processor.Put());
    if (!Get(*processor, f.urls[next++ % f.urls.size()])) state.SkipWithError("request failed");
    dnt::TrackingVerdict verdict;
    if (processor->GetVerdict(&verdict) != 0) state.SkipWithError("verdict failed");
  }
  state.SetItemsProcessed(state.iterations());
}

void PerRequest(benchmark::State& state, Fixture& (*fixture)()) {
  Fixture& f = fixture();
  const dnt::SessionParams params{"site.test", false};
  ComPtr<dnt::IHttpSessionProcessor> processor;
  f.factory->CreateHttpSessionProcessor(&params, processor.Put());
  std::size_t next = static_cast<std::size_t>(state.thread_index()) * 7;
  for (auto _ : state) {
    if (!Get(*processor, f.urls[next++ % f.urls.size()])) state.SkipWithError("request failed");
  }
  state.SetItemsProcessed(state.iterations());
}

// ---- As a host sees it ----------------------------------------------------

// Web analytics: detected, not blocked; the script strips the request and
// asks for the response, whose cookie it removes.
constexpr const char* TrackedUrl = "https://www.google-analytics.com/collect?v=1&t=pageview&tid=UA-1";

dnt::bench::ModuleHost& DefaultModule() {
  static dnt::bench::ModuleHost module(DNT_ENGINE_MODULE, DNT_DEFAULT_BASES, BenchSettings());
  return module;
}

std::shared_ptr<host::HttpMessage> TrackedRequest() {
  return std::make_shared<host::HttpMessage>(
      dnt::HttpRequestLine{TrackedUrl, "GET", "HTTP/1.1"},
      std::vector<host::HttpField>{{"Host", "www.google-analytics.com"},
                                   {"User-Agent", "Mozilla/5.0 (X11; Linux x86_64; rv:120.0) Gecko/20100101 Firefox/120.0"},
                                   {"Accept", "*/*"},
                                   {"Referer", "https://www.example.test/shop/index.html"},
                                   {"Cookie", "_ga=GA1.2.1234567890.1700000000; _gid=GA1.2.987654321.1700000000"}});
}

std::shared_ptr<host::HttpMessage> TrackedResponse() {
  return std::make_shared<host::HttpMessage>(
      dnt::HttpRequestLine{}, std::vector<host::HttpField>{{"Content-Type", "image/gif"},
                                                           {"Set-Cookie", "_gid=GA1.2.1; Path=/; Max-Age=86400"}});
}

// One tracked GET and, when asked for, its response; false on any failure.
bool TrackedGet(dnt::IHttpSessionProcessor& processor) {
  const auto request = TrackedRequest();
  const auto requestHeader = host::MakeRequestHeader(request);
  const auto requestController = host::MakeController(request);
  const dnt::RequestParams requestParams{requestHeader.Get()};
  bool responseRequired = false;
  if (processor.ProcessRequest(&requestParams, requestController.Get(), &responseRequired) != 0) return false;
  if (!responseRequired) return false;
  const auto response = TrackedResponse();
  const auto responseHeader = host::MakeResponseHeader(response);
  const auto responseController = host::MakeController(response);
  const dnt::ResponseParams responseParams{responseHeader.Get()};
  return processor.ProcessResponse(&responseParams, responseController.Get()) == 0;
}

// The GET, its response and the verdict, which must name the tracker.
[[gnu::noinline]] bool TrackedExchange(dnt::IHttpSessionProcessor& processor) {
  if (!TrackedGet(processor)) return false;
  dnt::TrackingVerdict verdict;
  return processor.GetVerdict(&verdict) == 0 && verdict.verdict == dnt::verdict::Detected &&
         !verdict.serviceName.empty();
}

orv::ComPtr<dnt::IHttpSessionProcessor> OpenSession(dnt::IProcessorFactory& service) {
  const dnt::SessionParams params{"www.example.test", false};
  ComPtr<dnt::IHttpSessionProcessor> processor;
  if (service.CreateHttpSessionProcessor(&params, processor.Put()) != 0) processor = {};
  return processor;
}

// Create a processor, one tracked exchange, release. Out of line, like
// TrackedExchange, so that callgrind --toggle-collect can count one of them.
[[gnu::noinline]] bool TrackedSession(dnt::IProcessorFactory& service) {
  const ComPtr<dnt::IHttpSessionProcessor> processor = OpenSession(service);
  return processor && TrackedExchange(*processor);
}

void HostSession(benchmark::State& state) {
  dnt::IProcessorFactory& service = DefaultModule().Service();
  for (auto _ : state) {
    if (!TrackedSession(service)) state.SkipWithError("the tracked session failed");
  }
  state.SetItemsProcessed(state.iterations());
}

// One more tracked exchange on a warm processor.
void HostRequest(benchmark::State& state) {
  const ComPtr<dnt::IHttpSessionProcessor> processor = OpenSession(DefaultModule().Service());
  if (!processor || !TrackedExchange(*processor)) state.SkipWithError("the tracked session failed");
  for (auto _ : state) {
    if (!TrackedExchange(*processor)) state.SkipWithError("the tracked exchange failed");
  }
  state.SetItemsProcessed(state.iterations());
}

std::size_t ResidentBytes() {
  long pages = 0;
  long resident = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return static_cast<std::size_t>(resident) * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// The growth of the process's resident memory while HeldSessions processors
// live, each after one tracked GET and its response. Free heap pages go back
// to the system first, so that memory freed by earlier benchmarks does not
// hide the growth.
void HostResidentPerSession(benchmark::State& state) {
  constexpr int HeldSessions = 2000;
  dnt::IProcessorFactory& service = DefaultModule().Service();
  for (auto _ : state) {
    std::vector<ComPtr<dnt::IHttpSessionProcessor>> sessions;
    sessions.reserve(HeldSessions);
    if (const auto warm = OpenSession(service); !warm || !TrackedGet(*warm)) state.SkipWithError("session failed");
    ::malloc_trim(0);
    const std::size_t before = ResidentBytes();
    const std::size_t heapBefore = ::mallinfo2().uordblks;
    for (int i = 0; i < HeldSessions; ++i) {
      sessions.push_back(OpenSession(service));
      if (!sessions.back() || !TrackedGet(*sessions.back())) state.SkipWithError("session failed");
    }
    const std::size_t heapAfter = ::mallinfo2().uordblks;
    const std::size_t after = ResidentBytes();
    const auto perSession = [](std::size_t from, std::size_t to) {
      return (static_cast<double>(to) - static_cast<double>(from)) / 1024.0 / HeldSessions;
    };
    state.counters["KiB_per_session"] = perSession(before, after);
    // The part of it that the C heap hands out (the rest is its overhead).
    state.counters["heap_KiB_per_session"] = perSession(heapBefore, heapAfter);
  }
}

BENCHMARK(HostSession)->Unit(benchmark::kMicrosecond);
BENCHMARK(HostRequest)->Unit(benchmark::kMicrosecond);
BENCHMARK(HostResidentPerSession)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(PerSession, sample, &Sample)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK_CAPTURE(PerSession, default, &Default)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK_CAPTURE(PerSession, rules10k, &TenThousandRules)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK_CAPTURE(PerRequest, sample, &Sample)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK_CAPTURE(PerRequest, default, &Default)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK_CAPTURE(PerRequest, rules10k, &TenThousandRules)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
