#include "records/run_journal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

namespace records {

namespace {

// An entry: the mark, the payload's length and its CRC-32, all little-endian, then the payload.
constexpr std::uint32_t kMark = 0x314a5251;  // "QRJ1"
constexpr std::size_t kFrameHeader = 12;
// A payload: its kind, then a run's record or the ids of runs stored.
constexpr char kKept = 'K';
constexpr char kStored = 'S';
constexpr char kUnitKept = 'U';
constexpr std::uint8_t kRecordFormat = 1;
// A journal is written afresh, without the states superseded, once it is this long and mostly
// superseded.
constexpr long long kRewriteAt = 1 << 20;
// RECORD-FILE.journal, then -2 ... -64 for further programs writing the same file at once.
constexpr int kMostJournals = 64;

std::uint32_t crc32(std::string_view data) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char byte : data) crc = table[(crc ^ std::uint8_t(byte)) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

class Encoder {
 public:
  void u8(std::uint8_t value) { out_.push_back(char(value)); }
  void u32(std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out_.push_back(char((value >> (8 * i)) & 0xFF));
  }
  void i64(long long value) {
    const auto bits = static_cast<std::uint64_t>(value);
    for (int i = 0; i < 8; ++i) out_.push_back(char((bits >> (8 * i)) & 0xFF));
  }
  void text(std::string_view value) {
    u32(std::uint32_t(value.size()));
    out_.append(value);
  }
  void time(TimePoint value) { i64(value.time_since_epoch().count()); }
  template <typename T>
  void optional(const std::optional<T>& value) {
    u8(value ? 1 : 0);
    if (!value) return;
    if constexpr (std::is_same_v<T, double>) {
      std::uint64_t bits = 0;
      std::memcpy(&bits, &*value, sizeof bits);
      i64(static_cast<long long>(bits));
    } else if constexpr (std::is_same_v<T, TimePoint>) {
      time(*value);
    } else {
      i64(static_cast<long long>(*value));
    }
  }
  std::string& out() { return out_; }

 private:
  std::string out_;
};

class Decoder {
 public:
  explicit Decoder(std::string_view in) : in_(in) {}
  bool ok() const { return ok_; }
  bool at_end() const { return in_.empty(); }
  std::uint8_t u8() { return std::uint8_t(take(1)[0]); }
  std::uint32_t u32() {
    const std::string_view bytes = take(4);
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= std::uint32_t(std::uint8_t(bytes[i])) << (8 * i);
    return value;
  }
  long long i64() {
    const std::string_view bytes = take(8);
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value |= std::uint64_t(std::uint8_t(bytes[i])) << (8 * i);
    return static_cast<long long>(value);
  }
  std::string text() {
    const std::uint32_t size = u32();
    return std::string(take(size));
  }
  TimePoint time() { return TimePoint{std::chrono::milliseconds{i64()}}; }
  template <typename T>
  std::optional<T> optional() {
    if (u8() == 0) return std::nullopt;
    const long long raw = i64();
    if constexpr (std::is_same_v<T, double>) {
      const auto bits = static_cast<std::uint64_t>(raw);
      double value = 0;
      std::memcpy(&value, &bits, sizeof value);
      return value;
    } else if constexpr (std::is_same_v<T, TimePoint>) {
      return TimePoint{std::chrono::milliseconds{raw}};
    } else {
      return static_cast<T>(raw);
    }
  }

 private:
  // Past the end: zeros, and the decoder is no longer ok.
  std::string_view take(std::size_t size) {
    static const std::string zeros(8, '\0');
    if (!ok_ || size > in_.size()) {
      ok_ = false;
      in_ = {};
      return std::string_view(zeros).substr(0, std::min<std::size_t>(size, zeros.size()));
    }
    const std::string_view part = in_.substr(0, size);
    in_.remove_prefix(size);
    return part;
  }
  std::string_view in_;
  bool ok_ = true;
};

void encode_unit(Encoder& out, const UnitIdentity& unit) {
  for (const std::string* field :
       {&unit.reply, &unit.maker, &unit.model, &unit.serial, &unit.firmware}) {
    out.text(*field);
  }
}

void decode_unit(Decoder& in, UnitIdentity& unit) {
  for (std::string* field : {&unit.reply, &unit.maker, &unit.model, &unit.serial, &unit.firmware}) {
    *field = in.text();
  }
}

std::string kept_payload(const RunRecord& r) {
  Encoder out;
  out.u8(std::uint8_t(kKept));
  out.u8(kRecordFormat);
  out.text(r.id);
  out.text(r.station_id);
  out.time(r.started);
  out.optional(r.ended);
  out.text(text_id(r.procedure));
  out.text(text_id(r.outcome));
  out.i64(r.passes_run);
  out.i64(r.failures);
  encode_unit(out, r.uut);
  encode_unit(out, r.qcu);
  for (const std::string* field : {&r.uut_resource, &r.qcu_resource, &r.technician, &r.top_serial,
                                   &r.sub_serial, &r.visa_library, &r.report}) {
    out.text(*field);
  }
  out.u8(r.simulated ? 1 : 0);
  out.u32(std::uint32_t(r.last_errors.size()));
  for (const std::string& error : r.last_errors) out.text(error);
  out.optional(r.self_test_result);
  out.optional(r.memory_miscompares);
  out.optional(r.cal_constant_read);
  out.optional(r.cal_constant_sent);
  out.optional(r.non_vol_address);
  out.text(r.program_version);
  out.optional(r.made);
  out.text(r.unit_result_id);
  return std::move(out.out());
}

// False for a payload this program cannot read.
bool read_kept(Decoder& in, RunRecord& r) {
  if (in.u8() != kRecordFormat) return false;
  r.id = in.text();
  r.station_id = in.text();
  r.started = in.time();
  r.ended = in.optional<TimePoint>();
  const auto procedure = procedure_from_text_id(in.text());
  const auto outcome = outcome_from_text_id(in.text());
  r.passes_run = int(in.i64());
  r.failures = int(in.i64());
  decode_unit(in, r.uut);
  decode_unit(in, r.qcu);
  for (std::string* field : {&r.uut_resource, &r.qcu_resource, &r.technician, &r.top_serial,
                             &r.sub_serial, &r.visa_library, &r.report}) {
    *field = in.text();
  }
  r.simulated = in.u8() != 0;
  const std::uint32_t errors = in.u32();
  for (std::uint32_t i = 0; i < errors && in.ok(); ++i) r.last_errors.push_back(in.text());
  r.self_test_result = in.optional<int>();
  r.memory_miscompares = in.optional<long long>();
  r.cal_constant_read = in.optional<double>();
  r.cal_constant_sent = in.optional<double>();
  r.non_vol_address = in.optional<int>();
  r.program_version = in.text();
  r.made = in.optional<TimePoint>();
  // A journal of an earlier program ends its runs here.
  if (in.ok() && !in.at_end()) r.unit_result_id = in.text();
  if (!procedure || !outcome || !in.ok() || !in.at_end()) return false;
  r.procedure = *procedure;
  r.outcome = *outcome;
  return true;
}

std::string unit_payload(const UnitResult& r) {
  Encoder out;
  out.u8(std::uint8_t(kUnitKept));
  out.u8(kRecordFormat);
  out.text(r.id);
  out.text(r.station_id);
  out.time(r.started);
  out.optional(r.ended);
  out.optional(r.made);
  encode_unit(out, r.uut);
  encode_unit(out, r.qcu);
  for (const std::string* field :
       {&r.technician, &r.top_serial, &r.sub_serial, &r.uut_resource, &r.qcu_resource,
        &r.visa_library, &r.program_version, &r.sequence, &r.finding}) {
    out.text(*field);
  }
  out.u8(r.simulated ? 1 : 0);
  out.text(text_id(r.verdict));
  out.optional(r.deciding_step);
  out.text(r.deciding_procedure ? text_id(*r.deciding_procedure) : std::string_view());
  return std::move(out.out());
}

bool read_unit(Decoder& in, UnitResult& r) {
  if (in.u8() != kRecordFormat) return false;
  r.id = in.text();
  r.station_id = in.text();
  r.started = in.time();
  r.ended = in.optional<TimePoint>();
  r.made = in.optional<TimePoint>();
  decode_unit(in, r.uut);
  decode_unit(in, r.qcu);
  for (std::string* field :
       {&r.technician, &r.top_serial, &r.sub_serial, &r.uut_resource, &r.qcu_resource,
        &r.visa_library, &r.program_version, &r.sequence, &r.finding}) {
    *field = in.text();
  }
  r.simulated = in.u8() != 0;
  const auto verdict = unit_verdict_from_text_id(in.text());
  r.deciding_step = in.optional<int>();
  const std::string deciding = in.text();
  if (!deciding.empty()) {
    r.deciding_procedure = procedure_from_text_id(deciding);
    if (!r.deciding_procedure) return false;
  }
  if (!verdict || !in.ok() || !in.at_end()) return false;
  r.verdict = *verdict;
  return true;
}

std::string payload_of(const RunRecord& record, const std::optional<UnitResult>& unit_result) {
  return unit_result ? unit_payload(*unit_result) : kept_payload(record);
}

std::string stored_payload(const std::vector<std::string>& ids) {
  Encoder out;
  out.u8(std::uint8_t(kStored));
  out.u32(std::uint32_t(ids.size()));
  for (const std::string& id : ids) out.text(id);
  return std::move(out.out());
}

std::string framed(const std::string& payload) {
  Encoder header;
  header.u32(kMark);
  header.u32(std::uint32_t(payload.size()));
  header.u32(crc32(payload));
  return std::move(header.out()) + payload;
}

std::string errno_text() { return std::strerror(errno); }

bool write_at(int fd, std::string_view data, long long offset) {
  while (!data.empty()) {
    const ssize_t written = ::pwrite(fd, data.data(), data.size(), off_t(offset));
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(std::size_t(written));
    offset += written;
  }
  return true;
}

bool read_all(int fd, std::string& bytes) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return false;
  bytes.assign(std::size_t(status.st_size), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = ::pread(fd, bytes.data() + done, bytes.size() - done, off_t(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += std::size_t(got);
  }
  bytes.resize(done);
  return true;
}

// Makes a rename or removal in `folder` last through a power cut.
void sync_folder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file opened and locked for this program alone; -1 when another program holds it or it
// cannot be opened (errno says why). A file removed or replaced between the open and the lock
// (its holder ended) is opened again by its name.
int lock_file(const std::string& path, bool create) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd);
      errno = error;
      return -1;
    }
    struct stat held {};
    struct stat named {};
    if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      return fd;
    }
    ::close(fd);
  }
  errno = EAGAIN;
  return -1;
}

}  // namespace

RunJournal::RunJournal(std::string store_path) : store_path_(std::move(store_path)) {}

RunJournal::~RunJournal() {
  if (fd_ < 0) return;
  if (runs_.empty()) {
    // Removed while still locked, so that no other program takes it over half removed.
    ::unlink(file_.c_str());
  } else {
    append_stored();
  }
  ::close(fd_);
}

std::string RunJournal::file_name(const std::string& store_path, int number) {
  std::string name = store_path;
  name.append(".journal");
  if (number != 1) name.append("-").append(std::to_string(number));
  return name;
}

void RunJournal::open() {
  if (store_path_.empty() || fd_ >= 0) return;
  int fd = -1;
  std::string reason = "no journal file is free";
  for (int number = 1; number <= kMostJournals && fd < 0; ++number) {
    const std::string name = file_name(store_path_, number);
    fd = lock_file(name, true);
    if (fd >= 0) {
      file_ = name;
    } else if (errno != EWOULDBLOCK && errno != EAGAIN) {
      reason = "the journal file cannot be made (" + errno_text() + ")";
      break;
    }
  }
  if (fd < 0) {
    if (in_memory() > 0 || error_.empty()) error_ = reason;
    return;
  }
  fd_ = fd;
  // The journal's name, made just now perhaps, lasts through a power cut as its entries do.
  sync_folder(folder_of(file_));
  // Half written by a rewrite that a crash cut off: the journal itself is whole.
  ::unlink((file_ + ".new").c_str());
  load(fd_, true);
  take_over_orphans();
}

void RunJournal::load(int fd, bool from_before) {
  std::string bytes;
  if (!read_all(fd, bytes)) return;
  if (fd == fd_) file_size_ = static_cast<long long>(bytes.size());
  const std::string_view all(bytes);
  std::size_t at = 0;
  while (at + kFrameHeader <= all.size()) {
    Decoder header(all.substr(at, kFrameHeader));
    const std::uint32_t mark = header.u32();
    const std::uint32_t size = header.u32();
    const std::uint32_t checksum = header.u32();
    // A torn or damaged entry: the next whole one is found by its mark.
    if (mark != kMark || size > all.size() - at - kFrameHeader ||
        crc32(all.substr(at + kFrameHeader, size)) != checksum) {
      ++at;
      continue;
    }
    apply(std::string(all.substr(at + kFrameHeader, size)), from_before);
    at += kFrameHeader + size;
  }
}

void RunJournal::apply(const std::string& payload, bool from_before) {
  Decoder in(payload);
  const char kind = char(in.u8());
  if (kind == kKept || kind == kUnitKept) {
    RunRecord record;
    std::optional<UnitResult> unit_result;
    if (kind == kKept && !read_kept(in, record)) return;
    if (kind == kUnitKept) {
      unit_result.emplace();
      if (!read_unit(in, *unit_result)) return;
      record.id = unit_result->id;
    }
    Kept* kept = entry(record.id);
    // This program's own later state stands.
    if (kept != nullptr && !kept->from_before) return;
    if (kept == nullptr) {
      runs_.push_back({std::move(record), std::move(unit_result), from_before, true, true});
    } else {
      kept->record = std::move(record);
      kept->unit_result = std::move(unit_result);
    }
  } else if (kind == kStored) {
    const std::uint32_t count = in.u32();
    for (std::uint32_t i = 0; i < count && in.ok(); ++i) {
      const std::string id = in.text();
      std::erase_if(runs_,
                    [&](const Kept& kept) { return kept.from_before && kept.record.id == id; });
    }
  }
}

void RunJournal::take_over_orphans() {
  const std::string folder = folder_of(store_path_);
  const std::string prefix = name_of(file_name(store_path_, 1));
  const std::string own = name_of(file_);
  std::vector<std::pair<std::string, int>> orphans;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* item = ::readdir(dir)) {
      const std::string_view name(item->d_name);
      if (name.substr(0, prefix.size()) != prefix) continue;
      const std::string_view number = name.substr(prefix.size());
      const bool numbered = number.size() > 1 && number[0] == '-' &&
                            std::all_of(number.begin() + 1, number.end(),
                                        [](char c) { return c >= '0' && c <= '9'; });
      if (!number.empty() && !numbered) continue;
      if (name == own) continue;
      const std::string path = folder + "/" + std::string(name);
      const int fd = lock_file(path, false);
      if (fd < 0) continue;  // another program's, in use
      load(fd, true);
      orphans.emplace_back(path, fd);
    }
    ::closedir(dir);
  }
  // Their runs are in this journal before their files go; the journal is written afresh, without
  // what was superseded or torn.
  bool kept = true;
  if (!runs_.empty()) {
    kept = rewrite();
  } else if (file_size_ > 0 && ::ftruncate(fd_, 0) == 0 && ::fdatasync(fd_) == 0) {
    file_size_ = 0;
  }
  for (const auto& [path, fd] : orphans) {
    if (kept) {
      ::unlink(path.c_str());
      ::unlink((path + ".new").c_str());
    }
    ::close(fd);
  }
  if (kept && !orphans.empty()) sync_folder(folder);
}

bool RunJournal::rewrite() {
  const std::string fresh = file_ + ".new";
  const int fd = ::open(fresh.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error_ = "the journal file cannot be written (" + errno_text() + ")";
    return false;
  }
  std::string bytes;
  for (const Kept& kept : runs_) bytes += framed(payload_of(kept.record, kept.unit_result));
  // Locked before it takes the journal's name, so that no other program takes it over.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !write_at(fd, bytes, 0) || ::fdatasync(fd) != 0 ||
      ::rename(fresh.c_str(), file_.c_str()) != 0) {
    error_ = "the journal file cannot be written (" + errno_text() + ")";
    ::close(fd);
    ::unlink(fresh.c_str());
    return false;
  }
  sync_folder(folder_of(file_));
  ::close(fd_);
  fd_ = fd;
  file_size_ = static_cast<long long>(bytes.size());
  for (Kept& kept : runs_) kept.on_disk = kept.ever_on_disk = true;
  // The states of runs stored are not in the fresh journal.
  stored_pending_.clear();
  error_.clear();
  return true;
}

bool RunJournal::append(const std::string& payload) {
  open();
  if (fd_ < 0) return false;
  const std::string frame = framed(payload);
  if (!write_at(fd_, frame, file_size_) || ::fdatasync(fd_) != 0) {
    error_ = errno == ENOSPC ? "the disk that holds the journal is full"
                             : "the journal file cannot be written (" + errno_text() + ")";
    // A part written is cut off again, so that the next entry follows a whole one.
    [[maybe_unused]] const int cut = ::ftruncate(fd_, off_t(file_size_));
    return false;
  }
  file_size_ += static_cast<long long>(frame.size());
  return true;
}

const RunJournal::Kept* RunJournal::entry(const std::string& id) const {
  const auto found = std::find_if(runs_.begin(), runs_.end(),
                                  [&](const Kept& kept) { return kept.record.id == id; });
  return found == runs_.end() ? nullptr : &*found;
}

RunJournal::Kept* RunJournal::entry(const std::string& id) {
  return const_cast<Kept*>(std::as_const(*this).entry(id));
}

const RunRecord* RunJournal::find(const std::string& id) const {
  const Kept* kept = entry(id);
  return kept == nullptr || kept->unit_result ? nullptr : &kept->record;
}

const UnitResult* RunJournal::find_unit_result(const std::string& id) const {
  const Kept* kept = entry(id);
  return kept == nullptr || !kept->unit_result ? nullptr : &*kept->unit_result;
}

bool RunJournal::keep(const RunRecord& record) {
  return keep(Kept{record, std::nullopt, false, false, false}, kept_payload(record));
}

bool RunJournal::keep(const UnitResult& result) {
  RunRecord key;
  key.id = result.id;
  return keep(Kept{std::move(key), result, false, false, false}, unit_payload(result));
}

bool RunJournal::keep(Kept latest, const std::string& payload) {
  // Before any pointer into the list is taken: opening loads runs into it.
  open();
  Kept* kept = entry(latest.record.id);
  if (kept == nullptr) {
    runs_.push_back(std::move(latest));
    kept = &runs_.back();
  } else {
    kept->record = std::move(latest.record);
    kept->unit_result = std::move(latest.unit_result);
  }
  if (store_path_.empty()) return false;
  // A run stored earlier must not come back from the journal behind this one's entry.
  append_stored();
  kept->on_disk = append(payload);
  kept->ever_on_disk = kept->ever_on_disk || kept->on_disk;
  if (kept->on_disk && in_memory() == 0 && stored_pending_.empty()) error_.clear();
  const bool on_disk = kept->on_disk;
  // Mostly superseded states: written afresh.
  if (on_disk && file_size_ > kRewriteAt) {
    long long live = 0;
    for (const Kept& each : runs_) live += static_cast<long long>(each.record.report.size()) + 512;
    if (file_size_ > 4 * live) rewrite();
  }
  return on_disk;
}

void RunJournal::stored(const std::vector<std::string>& ids) {
  bool on_disk = false;
  for (const std::string& id : ids) {
    const Kept* kept = entry(id);
    if (kept == nullptr) continue;
    // An older state in the file counts as much as the latest: it would come back.
    on_disk = on_disk || kept->ever_on_disk;
    if (kept->ever_on_disk) stored_pending_.push_back(id);
    runs_.erase(runs_.begin() + (kept - runs_.data()));
  }
  if (fd_ < 0 || !on_disk) return;
  if (runs_.empty()) {
    if (::ftruncate(fd_, 0) == 0 && ::fdatasync(fd_) == 0) {
      file_size_ = 0;
      stored_pending_.clear();
      return;
    }
  }
  // Synced like every entry: a state written over later in the file must not come back. What
  // cannot be appended now is appended before the next entry, or by sync().
  append_stored();
}

bool RunJournal::append_stored() {
  if (stored_pending_.empty()) return true;
  if (!append(stored_payload(stored_pending_))) return false;
  stored_pending_.clear();
  return true;
}

bool RunJournal::sync() {
  if (store_path_.empty()) return in_memory() == 0;
  // Before any reference into the list is taken: opening loads runs into it.
  open();
  append_stored();
  for (Kept& kept : runs_) {
    if (!kept.on_disk) kept.on_disk = append(payload_of(kept.record, kept.unit_result));
    kept.ever_on_disk = kept.ever_on_disk || kept.on_disk;
  }
  if (in_memory() == 0 && stored_pending_.empty()) error_.clear();
  return in_memory() == 0 && stored_pending_.empty();
}

std::size_t RunJournal::in_memory() const {
  return std::size_t(
      std::count_if(runs_.begin(), runs_.end(), [](const Kept& kept) { return !kept.on_disk; }));
}

std::vector<RunRecord> RunJournal::oldest(std::size_t limit, bool from_before) const {
  std::vector<RunRecord> runs;
  for (const Kept& kept : runs_) {
    if (runs.size() >= limit) break;
    if (!kept.unit_result && (!from_before || kept.from_before)) runs.push_back(kept.record);
  }
  return runs;
}

std::vector<UnitResult> RunJournal::oldest_unit_results(std::size_t limit, bool from_before) const {
  std::vector<UnitResult> results;
  for (const Kept& kept : runs_) {
    if (results.size() >= limit) break;
    if (kept.unit_result && (!from_before || kept.from_before)) {
      results.push_back(*kept.unit_result);
    }
  }
  return results;
}

std::size_t RunJournal::from_before() const {
  return std::size_t(
      std::count_if(runs_.begin(), runs_.end(), [](const Kept& kept) { return kept.from_before; }));
}

}  // namespace records
