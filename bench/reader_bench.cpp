// Reader benchmarks against the simulated reader (delays 0):
//  1. the peak resident memory an ORV5U read adds with small card images (bound: 8 MB), against the
//     peak before the reads;
//  2. the service's own time to build an ORV5U record with a 40 KB photo and two 1 MB card images
//     (bound: 1 ms): the median read time less the median time of the same SDK calls made directly;
//  3. building that card's record as a JSON object against building its text record, the reader
//     open (bound: 1.2 times the text), with the getter calls alone as the baseline of both.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "bench/peak_memory.h"
#include "common/status_message.h"
#include "reader/reader_test_support.h"

namespace kavenor {
namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The getter calls of one ORV5U record, made directly with buffers like the driver's.
void RawGetterCalls(const EntryPoints& e) {
  unsigned char type[4] = {};
  int length = 4;
  e.GetCertTypeU(type, &length);
  for (auto getter : {e.GetPeopleNameU, e.GetPeopleSexU, e.GetPeopleNationU, e.GetPeopleBirthdayU,
                      e.GetPeopleAddressU, e.GetPeopleIDCodeU, e.GetDepartmentU, e.GetStartDateU,
                      e.GetEndDateU, e.GetNewAppMsgU, e.GetPassCheckIDU, e.GetPeopleChineseNameU,
                      e.GetPeopleCertVersionU, e.GetNationCodeU}) {
    std::u16string buf(260, u'\0');
    length = 260;
    getter(reinterpret_cast<KadrelU16*>(buf.data()), &length);
  }
  unsigned char fp[1024] = {};
  length = 260;
  e.GetFPDate(fp, &length);
  std::u16string photo(102400, u'\0');
  length = 102400;
  e.Getbase64BMPDataU(reinterpret_cast<KadrelU16*>(photo.data()), &length);
  for (auto getter : {e.Getbase64FrontBMPDataU, e.Getbase64backBMPDataU}) {
    std::unique_ptr<char16_t[]> image(new char16_t[10240000]);
    image[0] = image[1] = 0;
    length = 10240000;
    getter(reinterpret_cast<KadrelU16*>(image.get()), &length);
  }
}

// The SDK calls of one ORV5U read, made directly: the simulator's share of a read.
void RawSdkRead(const EntryPoints& e) {
  e.ORV_InitComm(1);
  e.ORV_Authenticate();
  e.ORV_Read_Content(1);
  RawGetterCalls(e);
  e.ORV_CloseComm();
}

bool MemoryBench() {
  testing::SimulatedApp app("full", {DriverKind::k5U});
  app.SetScenario(DriverKind::k5U, {{"ports", "1"},
                                    {"Getbase64BMPDataU", "UEhPVE8="},
                                    {"Getbase64FrontBMPDataU", "RlJPTlQ="},
                                    {"Getbase64backBMPDataU", "QkFDSw=="}});
  auto driver = app.MakeDriver(DriverKind::k5U);
  driver->OpenReader();
  const uint64_t before = bench::PeakResidentBytes();
  for (int i = 0; i < 5; ++i) driver->ReadIdCard();
  const uint64_t after = bench::PeakResidentBytes();
  const double riseMb = static_cast<double>(after - before) / (1024.0 * 1024.0);
  const bool ok = riseMb < 8.0;
  std::printf("ORV5U read, small card images: peak resident memory %.1f MB before, rise %.2f MB "
              "(bound 8 MB; the two image buffers are 2 x 19.5 MB) %s\n",
              static_cast<double>(before) / (1024.0 * 1024.0), riseMb, ok ? "OK" : "OVER");
  return ok;
}

// The card of the record benchmarks: a 40 KB photo and two 1 MB card images; `extra` lines added.
std::unique_ptr<ReaderDriver> LargeCardDriver(testing::SimulatedApp& app,
                                              std::vector<std::pair<std::string, std::string>> extra = {}) {
  std::vector<std::pair<std::string, std::string>> lines = {{"ports", "1"},
                                                            {"delay_ms", "0"},
                                                            {"Getbase64BMPDataU.size", "40960"},
                                                            {"Getbase64FrontBMPDataU.size", "1048576"},
                                                            {"Getbase64backBMPDataU.size", "1048576"}};
  lines.insert(lines.end(), extra.begin(), extra.end());
  app.SetScenario(DriverKind::k5U, lines);
  return app.MakeDriver(DriverKind::k5U);
}

bool RecordBench() {
  testing::SimulatedApp app("full", {DriverKind::k5U});
  auto driver = LargeCardDriver(app);
  const int runs = 41;
  std::vector<double> reads, raws;
  size_t replySize = 0;
  for (int i = 0; i < runs + 3; ++i) {
    app.ClearCalls(DriverKind::k5U);  // keep the call log short
    auto t0 = Clock::now();
    replySize = driver->ReadIdCard().size();
    auto t1 = Clock::now();
    RawSdkRead(driver->entryPoints());
    auto t2 = Clock::now();
    if (i >= 3) {  // the first runs warm the caches and the simulator's file reads
      reads.push_back(Ms(t1 - t0));
      raws.push_back(Ms(t2 - t1));
    }
  }
  const double read = Median(reads), raw = Median(raws), own = std::max(0.0, read - raw);
  const bool ok = own < 1.0;
  std::printf("ORV5U record, 40 KB photo + 2 x 1 MB card images (%zu units): median read %.2f ms, "
              "same SDK calls alone %.2f ms, service's own %.2f ms (bound 1 ms) %s\n",
              replySize, read, raw, own, ok ? "OK" : "OVER");
  return ok;
}

bool JsonRecordBench() {
  testing::SimulatedApp app("full", {DriverKind::k5U});
  // One reader cycle for all runs, without a call log: only the records' building is timed.
  auto driver = LargeCardDriver(app, {{"calllog", "0"}});
  driver->OpenReader();
  const EntryPoints& e = driver->entryPoints();
  e.ORV_Authenticate();
  e.ORV_Read_Content(1);
  const int runs = 41;
  std::vector<double> texts, jsons, raws;
  size_t textSize = 0, jsonSize = 0;
  for (int i = 0; i < runs + 3; ++i) {
    auto t0 = Clock::now();
    textSize = driver->FormatCardRecord().size();
    auto t1 = Clock::now();
    jsonSize = driver->FormatCardRecordJson().value_or(u"").size();
    auto t2 = Clock::now();
    RawGetterCalls(e);
    auto t3 = Clock::now();
    if (i >= 3) {
      texts.push_back(Ms(t1 - t0));
      jsons.push_back(Ms(t2 - t1));
      raws.push_back(Ms(t3 - t2));
    }
  }
  e.ORV_CloseComm();
  const double text = Median(texts), json = Median(jsons), raw = Median(raws);
  const double ratio = json / text;
  const bool ok = ratio <= 1.2;
  std::printf("ORV5U record as JSON (%zu units) against text (%zu units), same card: median JSON %.2f ms, "
              "text %.2f ms, ratio %.3f (bound 1.2); getter calls alone %.2f ms, service's own JSON %.2f ms, "
              "text %.2f ms %s\n",
              jsonSize, textSize, json, text, ratio, raw, std::max(0.0, json - raw), std::max(0.0, text - raw),
              ok ? "OK" : "OVER");
  return ok;
}

}  // namespace
}  // namespace kavenor

namespace kavenor {
bool ReaderHostBench();
}

int main() {
  bool ok = kavenor::MemoryBench();
  ok = kavenor::RecordBench() && ok;
  ok = kavenor::JsonRecordBench() && ok;
  ok = kavenor::ReaderHostBench() && ok;
  return ok ? 0 : 1;
}
