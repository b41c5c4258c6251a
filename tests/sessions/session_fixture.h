// Processor factories over bases built in memory, and in-memory HTTP
// messages, for the session tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "do_not_track/dnt_engine/bases_provider.h"
#include "host/http_message.h"
#include "source/sessions/processor_factory.h"
#include "tests/scripts/script_fixture.h"
#include "tests/support/host_test.h"

namespace dnt::testing {

/// Bases with the engine test database and the given scripts.
inline orv::ComPtr<Bases> MakeBases(orv::ITracer* tracer, std::initializer_list<std::string> scripts,
                                    const bases_writer::Database& database = EngineDatabase()) {
  std::vector<orv::ComPtr<orv::IIO>> streams{Stream(ScriptFile(scripts))};
  const auto bugStream = Stream(bases_writer::Write(database));
  return orv::ComPtr<Bases>(new Bases(orv::ComPtr<orv::ITracer>(tracer), streams, bugStream.Get()));
}

/// One request: its message and the host objects over it.
struct Request {
  std::shared_ptr<host::HttpMessage> message;
  orv::ComPtr<IHttpRequestHeader> header;
  orv::ComPtr<IHttpMessageController> controller;

  explicit Request(const std::string& line, std::vector<host::HttpField> fields = {})
      : message(std::make_shared<host::HttpMessage>(host::ParseRequestLine(line), std::move(fields))),
        header(host::MakeRequestHeader(message)),
        controller(host::MakeController(message)) {}

  orv::result_t RunOn(IHttpSessionProcessor& processor, bool* responseRequired = nullptr) {
    bool required = false;
    const RequestParams params{header.Get()};
    const orv::result_t r = processor.ProcessRequest(&params, controller.Get(), &required);
    if (responseRequired) *responseRequired = required;
    return r;
  }
};

/// A host's services and a slot of bases.
class SessionTest : public HostTest {
 protected:
  void TearDown() override {
    factory.Reset();
    slot.Reset();
    HostTest::TearDown();
  }

  void Publish(orv::ComPtr<Bases> bases) { slot->Set(bases.Get()); }

  orv::ComPtr<ProcessorFactory> Factory(const ServiceSettings& settings = ServiceSettings::Defaults()) {
    return rtl::MakeComponent<ProcessorFactory>(locator.Get(), settings, slot);
  }

  orv::ComPtr<IHttpSessionProcessor> Processor(IProcessorFactory& factory, const std::string& domain = "site.test",
                                               bool sessionFlag = false) {
    orv::ComPtr<IHttpSessionProcessor> processor;
    const SessionParams params{domain, sessionFlag};
    EXPECT_EQ(factory.CreateHttpSessionProcessor(&params, processor.Put()), 0u);
    return processor;
  }

  orv::ComPtr<BasesSlot> slot{new BasesSlot()};
  orv::ComPtr<ProcessorFactory> factory;
};

}  // namespace dnt::testing
