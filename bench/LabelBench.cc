// File: LabelBench.cc
//
// Throughput of export, import, image writing and reading, dynamic-label
// gathering, and saving and opening the project file, at project sizes from
// 10,000 to 1,000,000 variables. Every case reports bytes per second (of the
// envelope, image or project file it makes or reads) so that it can be set
// beside BM_Copy, a plain copy of the same number of bytes measured in the
// same run. Inputs are built outside the timed loop.
//
//   kx9label_bench --benchmark_filter='BM_(Copy|Export|Import)/.*100000$'
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/HeapCounters.h"
#include "component/KX9ComFuncLabelStructure.h"
#include "refdb/RefDatabase.h"

namespace {

using Series = CKX9ComFuncLabelStructure::KX9LabelCPUSeries;

class CBenchComponent : public CKX9ComFuncLabelStructure {
 public:
  using CKX9ComFuncLabelStructure::CKX9ComFuncLabelStructure;
  using CKX9ComFuncLabelStructure::CreateAllData;
  using CKX9ComFuncLabelStructure::ReadBinaryData;
  using CKX9ComFuncLabelStructure::WriteBinaryData;
};

// Shape of a generated project: GVLs of 1000 variables each, and a few
// SDTs whose members every tenth variable uses as its structured type.
constexpr LONG kVariablesPerList = 1000;
constexpr LONG kStructCount = 8;
constexpr LONG kMembersPerStruct = 6;

std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

struct Records {
  _STKX9LABELSTRUCTURE* data = nullptr;
  LONG count = 0;
  Records() = default;
  Records(const Records&) = delete;
  Records& operator=(const Records&) = delete;
  ~Records() { delete[] data; }
};

// `variables` variables spread over lists and structures. With `dynamic`,
// every variable is a dynamic label (external access on): simple ones with
// an empty device to be converted, structured ones of structure type 2.
std::unique_ptr<Records> MakeRecords(LONG variables, bool dynamic) {
  auto r = std::make_unique<Records>();
  const LONG lists = (variables + kVariablesPerList - 1) / kVariablesPerList;
  r->count = kStructCount + lists;
  r->data = new _STKX9LABELSTRUCTURE[static_cast<std::size_t>(r->count)];
  for (LONG s = 0; s < kStructCount; ++s) {
    _STKX9LABELSTRUCTURE& d = r->data[s];
    d.dataType = KX9_DATATYPE_SDT;
    d.name = U16("Struct" + std::to_string(s));
    for (LONG m = 0; m < kMembersPerStruct; ++m) {
      auto* e = new _STKX9LABELSTRUCTURESDTDATA();
      e->lineNo = static_cast<ULONG>(m + 1);
      e->name = U16("member" + std::to_string(m));
      e->dataTypeName = m % 3 == 0 ? u"BOOL" : (m % 3 == 1 ? u"INT" : u"DINT");
      e->initData = u"0";
      e->comments[0] = U16("member " + std::to_string(m) + ", of struct " + std::to_string(s));
      d.elements.Add(e);
    }
  }
  LONG made = 0;
  for (LONG l = 0; l < lists; ++l) {
    _STKX9LABELSTRUCTURE& d = r->data[kStructCount + l];
    d.dataType = KX9_DATATYPE_GVL;
    d.name = U16("List" + std::to_string(l));
    const LONG n = std::min(kVariablesPerList, variables - made);
    d.elements.Reserve(static_cast<int>(n));
    for (LONG v = 0; v < n; ++v, ++made) {
      auto* e = new _STKX9LABELSTRUCTUREGVLDATA();
      e->lineNo = static_cast<ULONG>(v + 1);
      e->name = U16("Var" + std::to_string(made));
      e->comments[0] = U16("variable " + std::to_string(made) + ", list " + std::to_string(l) + " \\ bench");
      e->remark = u"remark";
      if (v % 10 == 9) {
        e->structType = dynamic ? 2 : 1;
        e->dataTypeName = U16("Struct" + std::to_string(v % kStructCount));
        if (!dynamic) {
          for (LONG m = 0; m < kMembersPerStruct; ++m)
            e->devices.Add(_STKX9LABELSTRUCTUREGVLDEVICE{CString(U16("D" + std::to_string(made * 8 + m))), CString()});
        }
      } else {
        e->dataTypeName = v % 2 ? u"INT" : u"DINT";
        e->initData = u"0";
        e->devices.Add(
            _STKX9LABELSTRUCTUREGVLDEVICE{CString(dynamic ? u"" : U16("D" + std::to_string(made * 2))), CString()});
      }
      if (dynamic) e->exAccess = u"1";
      if (v % 100 == 50) {
        e->systemLabel.ID = made;
        e->systemLabel.name = e->name;
        e->systemLabel.status = 2;
        e->systemLabel.localName = u"local";
      }
      d.elements.Add(e);
    }
  }
  return r;
}

// Heap cost of an operation: allocations per variable over the timed
// passes, and how far one untimed pass lifts the resident set's peak above
// where it stood when that pass began (with free pages returned first). The
// untimed pass also keeps any timed pass from running on a cold heap.
class HeapMeter {
 public:
  template <class Op>
  void WarmUp(Op op) {
    const long long rss = kx9bench::ResetPeakRss();
    op();
    m_peakGrowth = kx9bench::PeakRssKiB() - rss;
  }
  void Begin() {
    m_allocs = kx9bench::Allocations();
    kx9bench::ProfileRegion(true);
  }
  void End() {
    kx9bench::ProfileRegion(false);
    m_total += kx9bench::Allocations() - m_allocs;
    ++m_passes;
  }
  void Report(benchmark::State& state, LONG variables) const {
    if (m_passes == 0 || variables <= 0) return;
    state.counters["allocs/var"] = static_cast<double>(m_total) / static_cast<double>(m_passes) / variables;
    state.counters["peakRSS+MB"] = static_cast<double>(m_peakGrowth) / 1024.0;
  }

 private:
  unsigned long long m_allocs = 0;
  unsigned long long m_total = 0;
  long long m_peakGrowth = 0;
  long long m_passes = 0;
};

// A populated project and its export envelope.
struct Fixture {
  refdb::RefDatabase db;
  STOBJECTID project{};
  std::unique_ptr<CBenchComponent> component;
  std::vector<BYTE> envelope;
};

_STKX9AUTODEVSET Settings() {
  _STKX9AUTODEVSET s{};
  std::memset(s.bytes, 0x5A, sizeof s.bytes);
  return s;
}

std::unique_ptr<CBenchComponent> MakeComponent(refdb::RefDatabase& db, const STOBJECTID& project, Series series) {
  auto c = std::make_unique<CBenchComponent>(db.Workspace());
  c->Initialize(project);
  c->SetCPUSeries(series);
  c->SetMode(CKX9ComFuncLabelStructure::KX9LabelModeNormal);
  return c;
}

// Built once per series and size, kept for the whole run.
Fixture& GetFixture(Series series, LONG variables, bool dynamic = false) {
  static std::map<std::pair<std::pair<LONG, LONG>, bool>, std::unique_ptr<Fixture>> cache;
  auto& slot = cache[{{static_cast<LONG>(series), variables}, dynamic}];
  if (slot) return *slot;
  slot = std::make_unique<Fixture>();
  Fixture& f = *slot;
  f.project = f.db.NewProject(u"Bench");
  f.component = MakeComponent(f.db, f.project, series);
  std::unique_ptr<Records> r = MakeRecords(variables, dynamic);
  if (f.component->CreateAllData(r->count, r->data) != KX9_OK) return f;
  BYTE* data = nullptr;
  LONG size = 0;
  if (f.component->GetAllData(&data, &size, Settings()) == KX9_OK && data != nullptr)
    f.envelope.assign(data, data + size);
  delete[] data;
  return f;
}

void BM_Copy(benchmark::State& state, LONG variables) {
  const std::vector<BYTE>& src = GetFixture(CKX9ComFuncLabelStructure::KX9LabelCPUSeriesStandard, variables).envelope;
  std::vector<BYTE> dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(src.size()));
}

void BM_Export(benchmark::State& state, Series series, LONG variables) {
  Fixture& f = GetFixture(series, variables);
  if (f.envelope.empty()) {
    state.SkipWithError("the project could not be built or exported");
    return;
  }
  const _STKX9AUTODEVSET settings = Settings();
  int64_t bytes = 0;
  HeapMeter heap;
  BYTE* warm = nullptr;
  LONG warmSize = 0;
  heap.WarmUp([&] { f.component->GetAllData(&warm, &warmSize, settings); });
  delete[] warm;
  for (auto _ : state) {
    state.PauseTiming();
    heap.Begin();
    state.ResumeTiming();
    BYTE* data = nullptr;
    LONG size = 0;
    if (f.component->GetAllData(&data, &size, settings) != KX9_OK) state.SkipWithError("GetAllData failed");
    bytes += size;
    state.PauseTiming();
    heap.End();
    delete[] data;
    state.ResumeTiming();
  }
  state.SetBytesProcessed(bytes);
  heap.Report(state, variables);
}

void BM_Import(benchmark::State& state, Series series, LONG variables) {
  const std::vector<BYTE>& envelope = GetFixture(series, variables).envelope;
  if (envelope.empty()) {
    state.SkipWithError("no envelope to import");
    return;
  }
  int64_t bytes = 0;
  HeapMeter heap;
  {
    refdb::RefDatabase db;
    auto c = MakeComponent(db, db.NewProject(u"Warm"), series);
    _STKX9AUTODEVSET settings{};
    heap.WarmUp(
        [&] { c->SetAllData(envelope.data(), static_cast<LONG>(envelope.size()), settings, static_cast<Series>(-1)); });
  }
  for (auto _ : state) {
    // Each import goes into a fresh project; making and dropping the
    // database is not timed.
    state.PauseTiming();
    auto db = std::make_unique<refdb::RefDatabase>();
    const STOBJECTID project = db->NewProject(u"Target");
    auto c = MakeComponent(*db, project, series);
    _STKX9AUTODEVSET settings{};
    heap.Begin();
    state.ResumeTiming();
    if (c->SetAllData(envelope.data(), static_cast<LONG>(envelope.size()), settings, static_cast<Series>(-1)) != KX9_OK)
      state.SkipWithError("SetAllData failed");
    bytes += static_cast<int64_t>(envelope.size());
    state.PauseTiming();
    heap.End();
    c.reset();
    db.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(bytes);
  heap.Report(state, variables);
}

// The image encodings: UTF-16LE (any series but 0) and the ANSI code page.
Series EncodingSeries(bool utf16) {
  return utf16 ? static_cast<Series>(2) : CKX9ComFuncLabelStructure::KX9LabelCPUSeriesStandard;
}

void BM_ImageWrite(benchmark::State& state, bool utf16, LONG variables) {
  refdb::RefDatabase db;
  const STOBJECTID project = db.NewProject(u"Image");
  auto c = MakeComponent(db, project, EncodingSeries(utf16));
  int64_t bytes = 0;
  HeapMeter heap;
  {
    std::unique_ptr<Records> r = MakeRecords(variables, false);
    BYTE* image = nullptr;
    heap.WarmUp([&] { c->WriteBinaryData(r->count, r->data, image, 0); });
    delete[] image;
  }
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<Records> r = MakeRecords(variables, false);
    BYTE* image = nullptr;
    heap.Begin();
    state.ResumeTiming();
    const LONG length = c->WriteBinaryData(r->count, r->data, image, 0);
    state.PauseTiming();
    heap.End();
    if (length <= 0) state.SkipWithError("WriteBinaryData failed");
    bytes += length;
    delete[] image;
    r.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(bytes);
  heap.Report(state, variables);
}

std::vector<BYTE> MakeImage(bool utf16, LONG variables) {
  refdb::RefDatabase db;
  const STOBJECTID project = db.NewProject(u"Image");
  auto c = MakeComponent(db, project, EncodingSeries(utf16));
  std::unique_ptr<Records> r = MakeRecords(variables, false);
  BYTE* image = nullptr;
  const LONG length = c->WriteBinaryData(r->count, r->data, image, 0);
  std::vector<BYTE> out;
  if (length > 0) out.assign(image, image + length);
  delete[] image;
  return out;
}

void BM_ImageRead(benchmark::State& state, bool utf16, LONG variables) {
  const std::vector<BYTE> image = MakeImage(utf16, variables);
  if (image.empty()) {
    state.SkipWithError("no image to read");
    return;
  }
  refdb::RefDatabase db;
  const STOBJECTID project = db.NewProject(u"Image");
  auto c = MakeComponent(db, project, EncodingSeries(utf16));
  const LONG length = static_cast<LONG>(image.size());
  int64_t bytes = 0;
  HeapMeter heap;
  heap.WarmUp([&] {
    const LONG count = c->ReadBinaryData(image.data(), length, nullptr);
    std::unique_ptr<_STKX9LABELSTRUCTURE[]> records(
        new _STKX9LABELSTRUCTURE[static_cast<std::size_t>(count > 0 ? count : 1)]);
    c->ReadBinaryData(image.data(), length, records.get());
  });
  for (auto _ : state) {
    state.PauseTiming();
    heap.Begin();
    state.ResumeTiming();
    const LONG count = c->ReadBinaryData(image.data(), length, nullptr);
    auto* records = new _STKX9LABELSTRUCTURE[static_cast<std::size_t>(count > 0 ? count : 1)];
    if (count <= 0 || c->ReadBinaryData(image.data(), length, records) != count)
      state.SkipWithError("ReadBinaryData failed");
    bytes += length;
    state.PauseTiming();
    heap.End();
    delete[] records;
    state.ResumeTiming();
  }
  state.SetBytesProcessed(bytes);
  heap.Report(state, variables);
}

void BM_DynamicLabels(benchmark::State& state, LONG variables) {
  Fixture& f = GetFixture(CKX9ComFuncLabelStructure::KX9LabelCPUSeriesX, variables, true);
  if (f.envelope.empty()) {
    state.SkipWithError("the project could not be built");
    return;
  }
  for (auto _ : state) {
    // The records collect in the object: a fresh object per pass.
    state.PauseTiming();
    auto c = MakeComponent(f.db, f.project, CKX9ComFuncLabelStructure::KX9LabelCPUSeriesX);
    CKX9ComFuncLabelStructure::CDynamicLabelArray labels;
    state.ResumeTiming();
    if (c->GetAllDynamicLabelData(labels) != KX9_OK) state.SkipWithError("GetAllDynamicLabelData failed");
    state.PauseTiming();
    if (labels.GetSize() != variables) state.SkipWithError("not every variable became a dynamic label");
    c->ReleaseDynamicLabelStruct();
    c.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * variables);
}

// The project file the save and open cases use, one per process.
std::string ProjectFilePath() {
  return "/tmp/kx9label_bench_" + std::to_string(static_cast<long>(::getpid())) + ".kx9p";
}

// Removes the file and whatever SQLite keeps beside it, so every save
// writes a new file.
void RemoveProjectFile(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::remove((path + suffix).c_str());
}

double MiB(double bytes) { return bytes / (1024.0 * 1024.0); }

long long FileSize(const std::string& path) {
  struct stat st = {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

// The file beside the envelope: what the whole project costs on disk
// against what its export carries.
void ReportSizes(benchmark::State& state, const Fixture& f, long long fileSize) {
  state.counters["file_MB"] = MiB(static_cast<double>(fileSize));
  state.counters["envelope_MB"] = MiB(static_cast<double>(f.envelope.size()));
}

void BM_ProjectSave(benchmark::State& state, Series series, LONG variables) {
  Fixture& f = GetFixture(series, variables);
  if (f.envelope.empty()) {
    state.SkipWithError("the project could not be built");
    return;
  }
  const std::string path = ProjectFilePath();
  HeapMeter heap;
  RemoveProjectFile(path);
  heap.WarmUp([&] { f.db.SaveToFile(path); });
  long long fileSize = FileSize(path);
  int64_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    RemoveProjectFile(path);
    std::string error;
    heap.Begin();
    state.ResumeTiming();
    if (!f.db.SaveToFile(path, &error)) state.SkipWithError(("SaveToFile failed: " + error).c_str());
    state.PauseTiming();
    heap.End();
    fileSize = FileSize(path);
    bytes += fileSize;
    state.ResumeTiming();
  }
  RemoveProjectFile(path);
  state.SetBytesProcessed(bytes);
  ReportSizes(state, f, fileSize);
  heap.Report(state, variables);
}

void BM_ProjectOpen(benchmark::State& state, Series series, LONG variables) {
  Fixture& f = GetFixture(series, variables);
  const std::string path = ProjectFilePath();
  RemoveProjectFile(path);
  std::string error;
  if (f.envelope.empty() || !f.db.SaveToFile(path, &error)) {
    state.SkipWithError(("no project file to open: " + error).c_str());
    return;
  }
  const long long fileSize = FileSize(path);
  int64_t bytes = 0;
  HeapMeter heap;
  {
    refdb::RefDatabase db;
    heap.WarmUp([&] { db.LoadFromFile(path); });
  }
  for (auto _ : state) {
    // Each open goes into a fresh database; making and dropping it is not
    // timed.
    state.PauseTiming();
    auto db = std::make_unique<refdb::RefDatabase>();
    heap.Begin();
    state.ResumeTiming();
    if (!db->LoadFromFile(path, &error)) state.SkipWithError(("LoadFromFile failed: " + error).c_str());
    bytes += fileSize;
    state.PauseTiming();
    heap.End();
    if (db->ObjectCount() != f.db.ObjectCount()) state.SkipWithError("the file opened with other objects");
    db.reset();
    state.ResumeTiming();
  }
  RemoveProjectFile(path);
  state.SetBytesProcessed(bytes);
  ReportSizes(state, f, fileSize);
  heap.Report(state, variables);
}

void Register() {
  const Series standard = CKX9ComFuncLabelStructure::KX9LabelCPUSeriesStandard;
  const Series x = CKX9ComFuncLabelStructure::KX9LabelCPUSeriesX;
  // Rates come from the thread's CPU time (user and system), which other
  // work on a shared machine does not inflate. The largest cases run one
  // pass per repetition to keep the run short; --benchmark_repetitions
  // sets how many.
  auto shape = [](benchmark::internal::Benchmark* b, LONG n) {
    b->Unit(benchmark::kMillisecond);
    if (n >= 1000000) b->Iterations(1);
  };
  for (LONG n : {10000, 100000, 1000000}) {
    const std::string size = std::to_string(n);
    shape(benchmark::RegisterBenchmark(("BM_Copy/" + size).c_str(), BM_Copy, n), n);
    shape(benchmark::RegisterBenchmark(("BM_Export/classic/" + size).c_str(), BM_Export, standard, n), n);
    shape(benchmark::RegisterBenchmark(("BM_Import/classic/" + size).c_str(), BM_Import, standard, n), n);
    if (n >= 100000) {
      shape(benchmark::RegisterBenchmark(("BM_Export/x/" + size).c_str(), BM_Export, x, n), n);
      shape(benchmark::RegisterBenchmark(("BM_Import/x/" + size).c_str(), BM_Import, x, n), n);
      for (const auto& s : {std::make_pair(std::string("classic/"), standard), std::make_pair(std::string("x/"), x)}) {
        shape(benchmark::RegisterBenchmark(("BM_ProjectSave/" + s.first + size).c_str(), BM_ProjectSave, s.second, n),
              n);
        shape(benchmark::RegisterBenchmark(("BM_ProjectOpen/" + s.first + size).c_str(), BM_ProjectOpen, s.second, n),
              n);
      }
    }
    for (bool utf16 : {true, false}) {
      const std::string enc = utf16 ? "utf16/" : "ansi/";
      shape(benchmark::RegisterBenchmark(("BM_ImageWrite/" + enc + size).c_str(), BM_ImageWrite, utf16, n), n);
      shape(benchmark::RegisterBenchmark(("BM_ImageRead/" + enc + size).c_str(), BM_ImageRead, utf16, n), n);
    }
  }
  shape(benchmark::RegisterBenchmark("BM_DynamicLabels/x/100000", BM_DynamicLabels, 100000), 100000);
}

}  // namespace

int main(int argc, char** argv) {
  Register();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
