// ReaderDriver: one copy of the reader SDK library and the operations run against it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "common/shared_library.h"
#include "common/status_message.h"
#include "reader/card_fields.h"
#include "reader/entry_points.h"

namespace kavenor {

// The start-up message of a library that cannot be loaded.
extern const char16_t kLibraryLoadFailed[];

// Shows a start-up message (a missing library); ShowStartupMessage in the program.
using MessageSink = std::function<void(const std::u16string&)>;

// How a successful identity-card read answers: the "|"-separated reply, or one JSON object.
enum class RecordForm { kText, kJson };

// A process-wide object, never copied. Constructed on the main thread; afterwards used only by the
// reader thread, one operation at a time, so it needs no lock. Every operation opens the reader,
// does its card work, closes the reader and returns one reply text; failures are reply texts.
class ReaderDriver {
 public:
  // Binds `<moduleDir><sub-folder><sep><kadrel library>` and reads the saved port (and, for
  // ORV5U, the device name) from `<moduleDir>Config.ini`. `moduleDir` ends in a separator or is
  // empty. A library that does not load is reported once through `report`; the driver stays unbound.
  ReaderDriver(DriverKind kind, const std::u16string& moduleDir, const MessageSink& report);
  ReaderDriver(const ReaderDriver&) = delete;
  ReaderDriver& operator=(const ReaderDriver&) = delete;

  DriverKind kind() const { return kind_; }
  bool IsBound() const { return library_.IsLoaded(); }
  int32_t savedPort() const { return savedPort_; }
  const std::u16string& settingsPath() const { return settingsPath_; }
  const std::u16string& deviceName() const { return deviceName_; }
  const EntryPoints& entryPoints() const { return entry_; }
  // The reader host puts wrappers that watch each call in place of the library's functions.
  void ReplaceEntryPoints(const EntryPoints& entries) { entry_ = entries; }

  // Where the operations report their outcomes; set by the program before the first operation.
  void SetStatusSink(StatusSink sink) { statusSink_ = std::move(sink); }

  // Opens the reader: the saved port, then ports 1001-1016 and 1-16. A port found by the search is
  // saved and written to [IP] Com. When none answers, posts status 2 and returns false.
  bool OpenReader();

  std::u16string ReadIdCard();
  std::u16string ReadIdCardNoJudge();
  std::u16string ReadIdCardDelayed();         // ORV5A(FT232): 500 ms after opening
  std::u16string ReadIdCardNoJudgeDelayed();  // ORV5A(FT232): 500 ms after opening
  // Any of the four above, a successful read answering in `form`. Failures answer their texts in
  // either form, and so does a library without GetCertTypeU (its record is a text).
  std::u16string ReadIdCardIn(RecordForm form, bool noJudge, bool delayed);

  // The card record from what the SDK holds after a successful read; the reader must be open.
  std::u16string FormatCardRecord();
  // The same card as one JSON object, with the model tag and the device name; nullopt when the
  // library lacks GetCertTypeU.
  std::optional<std::u16string> FormatCardRecordJson();

  std::u16string M1Request(uint32_t pauseMs);
  std::u16string M1Read(uint32_t pauseMs, const uint8_t key[6], uint8_t block);
  std::u16string M1Write(uint32_t pauseMs, const uint8_t key[6], uint8_t block, const uint8_t data[16]);

  std::u16string ReadBankCardNumber();
  std::u16string ReadSamId();
  std::u16string ReadCompleteSamId();

  // Releases the library (at process exit, in reverse construction order).
  ~ReaderDriver() = default;

 private:
  // One reader cycle: OpenReader (else "连接设备失败" at once), the pause if any, the card work,
  // then ORV_CloseComm exactly once whatever the work's outcome, an exception included.
  std::u16string InReaderCycle(std::optional<uint32_t> pauseMs, const std::function<std::u16string()>& cardWork);
  int ReadCardContent();
  void CloseReader();
  void Post(uint32_t code) {
    if (statusSink_) statusSink_(code);
  }

  DriverKind kind_;
  SharedLibrary library_;
  EntryPoints entry_;
  int32_t savedPort_ = 1;
  std::u16string settingsPath_;
  StatusSink statusSink_;
  std::u16string deviceName_;  // ORV5U only
  CardImageBuffers cardImages_;  // ORV5U only
};

// The sub-folder of the executable's folder that holds the driver's SDK copy: ORV5A, ORV5U, ORV5ULN.
const char16_t* SdkFolderName(DriverKind kind);

// The model tag that begins the driver's identity-card replies.
const char16_t* ModelTag(DriverKind kind);

// "0" in front of `text` until it is `width` long; a longer text is left as it is.
std::u16string PadLeftZeros(const std::u16string& text, size_t width);

}  // namespace kavenor
