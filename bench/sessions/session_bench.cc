// What a session costs the host: a processor created, one GET through the
// request script and the verdict read (per session), and one more GET on a
// warm processor (per request); on the sample bases, on the default bases
// (real tracking services, the default policy scripts), and on a generated
// database of 10k rules under the default scripts; on one and two threads.
#include <benchmark/benchmark.h>

#include "bench/bases/synthetic_database.h"
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
    dnt::ServiceSettings settings = dnt::ServiceSettings::Defaults();
    settings.blockTrackingServiceCategories.push_back(3);
    factory = dnt::rtl::MakeComponent<dnt::ProcessorFactory>(locator.Get(), settings, slot);
  }
};

ComPtr<dnt::Bases> LoadDirectory(const char16_t* directory, ComPtr<orv::ITracer> tracer) {
  auto locator = host::MakeHostObject<host::ServiceLocator>();
  locator->Register(ComPtr<orv::IEnvironment>(host::MakeHostObject<host::Environment>(directory)));
  const dnt::BaseFiles files = dnt::CollectBaseFiles(locator.Get(), tracer.Get(), nullptr);
  return ComPtr<dnt::Bases>(new dnt::Bases(tracer, files.scriptStreams, files.bugStream.Get()));
}

Fixture& Sample() {
  static Fixture fixture(LoadDirectory(u"" DNT_SAMPLE_BASES, QuietTracer()),
                         {"http://connect.friendface.test/en_US/sdk.js", "https://ads.adbroker.example/serve/banner?id=42",
                          "http://www.example.test/index.html"});
  return fixture;
}

// Requests of a real page load: first party, analytics, ads, a CDN.
Fixture& Default() {
  static Fixture fixture(LoadDirectory(u"" DNT_DEFAULT_BASES, QuietTracer()),
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
    locator->Register(ComPtr<orv::IEnvironment>(host::MakeHostObject<host::Environment>(u"" DNT_DEFAULT_BASES)));
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

BENCHMARK_CAPTURE(PerSession, sample, &Sample)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK_CAPTURE(PerSession, default, &Default)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK_CAPTURE(PerSession, rules10k, &TenThousandRules)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK_CAPTURE(PerRequest, sample, &Sample)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK_CAPTURE(PerRequest, default, &Default)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK_CAPTURE(PerRequest, rules10k, &TenThousandRules)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
