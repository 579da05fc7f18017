#include "common/line_output.h"

#include <iostream>
#include <streambuf>

namespace kavenor {
namespace {

// Whether the calling thread holds its flushed lines back until FlushHeldOutput.
thread_local bool t_holding = false;

// A stream buffer with no buffer of its own: each thread's text collects in a buffer of that thread
// and goes out at the next flush as one piece, up to its last line end. So an entry of several
// lines (the access log's dump of a request) stays together too.
class WholeLineBuffer : public std::streambuf {
 public:
  explicit WholeLineBuffer(StdStream stream) : stream_(stream) {}

 protected:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      char ch = traits_type::to_char_type(c);
      Add(&ch, 1);
    }
    return traits_type::not_eof(c);
  }

  std::streamsize xsputn(const char* s, std::streamsize n) override {
    Add(s, static_cast<size_t>(n));
    return n;
  }

  int sync() override {
    if (!t_holding) WriteCompleteLines();
    return 0;
  }

 public:
  void WriteCompleteLines() {
    std::string& pending = Pending();
    size_t end = pending.rfind('\n');
    if (end == std::string::npos) return;
    WriteStandardStream(stream_, pending.data(), end + 1);
    pending.erase(0, end + 1);
  }

 private:
  std::string& Pending() {
    thread_local std::string pending[2];
    return pending[stream_ == StdStream::kOutput ? 0 : 1];
  }

  void Add(const char* s, size_t n) {
    std::string& pending = Pending();
    pending.append(s, n);
    // A writer that never flushes is still heard.
    if (pending.size() > kMostHeld) WriteCompleteLines();
  }

  static constexpr size_t kMostHeld = 64 * 1024;

  StdStream stream_;
};

WholeLineBuffer& OutputBuffer(StdStream stream) {
  static WholeLineBuffer out(StdStream::kOutput), err(StdStream::kError);
  return stream == StdStream::kOutput ? out : err;
}

}  // namespace

void WriteWholeLine(StdStream stream, const std::string& line) {
  std::string whole = line + "\n";
  WriteStandardStream(stream, whole.data(), whole.size());
}

void HoldFlushedOutput() { t_holding = true; }

void FlushHeldOutput() {
  OutputBuffer(StdStream::kOutput).WriteCompleteLines();
  OutputBuffer(StdStream::kError).WriteCompleteLines();
}

void UseWholeLinesOnStandardStreams() {
  WholeLineBuffer &out = OutputBuffer(StdStream::kOutput), &err = OutputBuffer(StdStream::kError);
  std::cout.flush();
  std::cerr.flush();
  std::cout.rdbuf(&out);
  std::cerr.rdbuf(&err);
}

}  // namespace kavenor
