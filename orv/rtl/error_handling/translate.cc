#include "orv/rtl/error_handling/translate.h"

#include <exception>
#include <new>
#include <stdexcept>
#include <typeinfo>

#include "orv/rtl/error_handling/exceptions.h"
#include "orv/trace/trace_stream.h"

namespace orv {
namespace {

void WriteDescription(TraceStream& line, const Exception& e) {
  line.WriteWide(e.GetDescription());
  line << ". At " << (e.File() ? e.File() : "(null)") << "(" << e.Line() << ") ";
}

result_t FailureOr(result_t code, result_t replacement) { return Failed(code) ? code : replacement; }

// Classifies one exception (rethrown from `current`), writes its text and
// returns its code; `nested` receives what it wraps, if anything.
result_t Classify(const std::exception_ptr& current, TraceStream& line, std::exception_ptr& nested) {
  nested = nullptr;
  auto takeNested = [&](const auto& e) {
    if (auto* n = dynamic_cast<const std::nested_exception*>(&e)) nested = n->nested_ptr();
  };
  try {
    std::rethrow_exception(current);
  } catch (const ResultCodeException& e) {
    takeNested(e);
    WriteDescription(line, e);
    return FailureOr(GetResultCode(e), result::ExceptionWithSuccessfulResultCode);
  } catch (const Exception& e) {
    takeNested(e);
    WriteDescription(line, e);
    return result::ExceptionHasNoResultCode;
  } catch (const exception& e) {
    takeNested(e);
    const char* text = e.what();
    line << (text ? text : "(null)");
    return FailureOr(GetResultCode(e), result::ExceptionWithSuccessfulResultCode);
  } catch (const std::bad_alloc& e) {
    takeNested(e);
    line << e.what();
    return result::OutOfMemory;
  } catch (const std::bad_cast& e) {
    takeNested(e);
    line << e.what();
    return result::BadCast;
  } catch (const std::length_error& e) {
    takeNested(e);
    line << e.what();
    return result::InvalidSize;
  } catch (const std::out_of_range& e) {
    takeNested(e);
    line << e.what();
    return result::OutOfRange;
  } catch (const std::invalid_argument& e) {
    takeNested(e);
    line << e.what();
    return result::InvalidArgument;
  } catch (const std::exception& e) {
    takeNested(e);
    line << e.what();
    return result::ExceptionHasNoResultCode;
  } catch (...) {
    line << "unknown exception";
    return result::UnknownException;
  }
}

}  // namespace

result_t TranslateCurrentException(ITracer* tracer, const char* prefix) noexcept {
  std::exception_ptr current = std::current_exception();
  if (!current) return result::NoCurrentException;
  TraceStream line(tracer, trace_level::Failure);
  if (prefix && line) line << prefix << ' ';
  result_t kept = result::NoError;
  // Without a line there is nothing to write, so the outermost code decides.
  while (current) {
    std::exception_ptr nested;
    result_t code;
    try {
      code = Classify(current, line, nested);
    } catch (...) {
      code = result::UnknownException;
      nested = nullptr;
    }
    if (kept == result::NoError) kept = code;
    if (!line) break;
    current = nested;
  }
  line.End();
  return kept;
}

}  // namespace orv
