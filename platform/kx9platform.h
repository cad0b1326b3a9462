// File: kx9platform.h
//
// The platform contract of the label-structure component: the handful of
// services the component used on its original platform (fixed-width integer
// types, COM basics, BSTR strings, task memory, the framework's string and
// container classes, local time, the thread's ANSI code page, the digest
// service, the run-time's wide number readers and the framework archive
// encoding). Every other folder includes only this header; nothing outside
// platform/ tests the operating system.
//
// Example:
//   CString s(u"Speed");
//   BSTR b = s.AllocSysString();   // caller frees with SysFreeString
//   SysFreeString(b);
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

// Everything declared here is the platform contract that the component's
// public signatures use: the shared library exports it, and nothing else of
// platform/ (the library builds with hidden visibility).
#pragma GCC visibility push(default)

// ---------------------------------------------------------------------------
// Integer types. The original platform's `long` is 32 bits wide; these names
// keep that width on every target.
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using UINT = std::uint32_t;
using INT = std::int32_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using BOOL = std::int32_t;
using HRESULT = std::int32_t;
using WCHAR = char16_t;
using OLECHAR = char16_t;
using LPCWSTR = const char16_t*;
using BSTR = OLECHAR*;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);

// ---------------------------------------------------------------------------
// COM basics.
struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
using IID = GUID;
using REFIID = const IID&;

inline bool IsEqualIID(REFIID a, REFIID b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator==(const GUID& a, const GUID& b) { return IsEqualIID(a, b); }
inline bool operator!=(const GUID& a, const GUID& b) { return !IsEqualIID(a, b); }

constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// IUnknown: reference counting and interface discovery. QueryInterface sets
// *ppv to an AddRef'ed interface and returns S_OK, or sets it to null and
// returns E_NOINTERFACE.
struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

// Interface identifier of an interface type: every interface declares
// `static constexpr IID iid`.
template <class T>
constexpr const IID& IIDOf() {
  return T::iid;
}

// Move-only holder of one interface reference; releases it on destruction.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& o) noexcept : m_p(o.m_p) { o.m_p = nullptr; }
  ComPtr& operator=(ComPtr&& o) noexcept {
    if (this != &o) {
      Reset();
      m_p = o.m_p;
      o.m_p = nullptr;
    }
    return *this;
  }
  T* Get() const { return m_p; }
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }
  // Out-parameter slot for QueryInterface and friends.
  T** Put() {
    Reset();
    return &m_p;
  }
  void Reset() {
    if (m_p) {
      m_p->Release();
      m_p = nullptr;
    }
  }

 private:
  T* m_p = nullptr;
};

// QueryInterface of `from` for T into `out`; true when the object answered.
template <class T>
bool QueryInterfaceTo(IUnknown* from, ComPtr<T>& out) {
  if (from == nullptr) return false;
  void* pv = nullptr;
  if (from->QueryInterface(IIDOf<T>(), &pv) != S_OK || pv == nullptr) return false;
  *out.Put() = static_cast<T*>(pv);
  return true;
}

// ---------------------------------------------------------------------------
// BSTR: a 32-bit byte length, then the UTF-16 units, then one zero unit. The
// pointer points at the first unit. Null is a valid empty string everywhere.
BSTR SysAllocString(const OLECHAR* psz);                // null in, null out
BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch);   // pch may be null: cch zero units
BSTR SysAllocStringByteLen(const char* psz, UINT len);  // len bytes, then two zero bytes
UINT SysStringByteLen(BSTR bstr);                       // 0 for null
UINT SysStringLen(BSTR bstr);                           // 0 for null
void SysFreeString(BSTR bstr);                          // null is ignored

// Owns one BSTR and frees it on every way out of its scope: the BSTRs the
// database hands out and the ones made to pass to it.
class BstrHolder {
 public:
  BstrHolder() = default;
  explicit BstrHolder(BSTR b) noexcept : m_b(b) {}
  ~BstrHolder() { SysFreeString(m_b); }
  BstrHolder(const BstrHolder&) = delete;
  BstrHolder& operator=(const BstrHolder&) = delete;
  // The slot for an out-parameter; what the holder had is freed first.
  BSTR* Put() {
    SysFreeString(m_b);
    m_b = nullptr;
    return &m_b;
  }
  BSTR Get() const { return m_b; }

 private:
  BSTR m_b = nullptr;
};

// Task memory, shared between the component and the database.
void* CoTaskMemAlloc(std::size_t cb);  // null on failure
void CoTaskMemFree(void* pv);          // null is ignored

// A hint that [p, p + n) is about to be written front to back once: large
// ranges are backed by huge pages where the system offers them, so that the
// first write does not fault in every 4 KiB page on its own.
void PlatformAdviseSequentialWrite(void* p, std::size_t n);

// Live BSTRs and task-memory blocks of the process, so tests can prove that
// every path frees what it was handed.
long PlatformLiveBstrCount();
long PlatformLiveTaskMemCount();
// Test hook for allocation failures: while one is set, every task-memory and
// BSTR allocation asks it first and fails (returns null) when it answers
// true. Null removes it.
enum class PlatformAllocKind { kTaskMem, kBstr };
using PlatformAllocHook = bool (*)(PlatformAllocKind kind);
void PlatformSetAllocHook(PlatformAllocHook hook);

// ---------------------------------------------------------------------------
// CString: a growable UTF-16 string. Its storage is one pointer-sized
// handle kept in bytes, so the class has alignment 1 and can sit in the
// host's 1-byte packed records like the framework's string does. The text
// lives in one shared, reference-counted block (count, length, capacity,
// units, a zero): copies share it and a write first takes a block of its
// own, so passing and storing texts by value costs no allocation. Null is
// the empty text.
class CString {
 public:
  CString() noexcept { Set(nullptr); }
  ~CString() { Release(Get()); }
  CString(const CString& o) noexcept {
    Rep* r = o.Get();
    AddRef(r);
    Set(r);
  }
  CString(CString&& o) noexcept {
    Set(o.Get());
    o.Set(nullptr);
  }
  CString& operator=(const CString& o) noexcept {
    Rep* r = o.Get();
    AddRef(r);
    Rep* old = Get();
    Set(r);
    Release(old);
    return *this;
  }
  CString& operator=(CString&& o) noexcept {
    if (this != &o) {
      Rep* old = Get();
      Set(o.Get());
      o.Set(nullptr);
      Release(old);
    }
    return *this;
  }
  CString(const char16_t* psz) {  // NOLINT
    Set(nullptr);
    if (psz) Assign(psz, std::char_traits<char16_t>::length(psz));
  }
  CString(const char16_t* pch, int nLength) {
    Set(nullptr);
    if (nLength > 0) Assign(pch, static_cast<std::size_t>(nLength));
  }
  CString(const std::u16string& s) {  // NOLINT
    Set(nullptr);
    Assign(s.data(), s.size());
  }
  CString(char16_t ch, int nRepeat);

  int GetLength() const { return Get() ? Get()->length : 0; }
  bool IsEmpty() const { return Get() == nullptr || Get()->length == 0; }
  void Empty() noexcept {
    Release(Get());
    Set(nullptr);
  }
  char16_t GetAt(int i) const { return Units(Get())[i]; }
  char16_t operator[](int i) const { return GetAt(i); }
  operator const char16_t*() const { return GetString(); }  // NOLINT
  const char16_t* GetString() const { return Get() ? Units(Get()) : u""; }
  // The whole text, zero units inside it included.
  std::u16string_view View() const {
    const Rep* r = Get();
    return r ? std::u16string_view(Units(r), static_cast<std::size_t>(r->length)) : std::u16string_view();
  }
  // The text up to its first zero unit.
  std::u16string_view CText() const { return std::u16string_view(GetString()); }
  // A copy of the whole text, for the tool's edges and test messages.
  std::u16string Str() const { return std::u16string(View()); }

  // `n` units from `p`, which may point into this string's own text.
  void Assign(const char16_t* p, std::size_t n);
  // The text p[0, n); a short one shares the block of an equal text made
  // recently on this thread, so that type names, initial values and the
  // like repeated over many labels are kept once.
  static CString Shared(const char16_t* p, std::size_t n);
  void Append(const char16_t* p, std::size_t n);
  // A writable text of `n` units (the old ones kept up to n) for the caller
  // to fill; ReleaseBuffer then sets the length actually written. Needs n > 0.
  char16_t* GetBufferSetLength(int n);
  void ReleaseBuffer(int n);

  CString& operator=(const char16_t* psz) {
    Assign(psz ? psz : u"", psz ? std::char_traits<char16_t>::length(psz) : 0);
    return *this;
  }
  CString& operator+=(const CString& s) {
    if (!s.IsEmpty()) {
      if (IsEmpty()) return *this = s;
      Append(Units(s.Get()), static_cast<std::size_t>(s.Get()->length));
    }
    return *this;
  }
  CString& operator+=(const char16_t* psz) {
    if (psz && *psz) Append(psz, std::char_traits<char16_t>::length(psz));
    return *this;
  }
  CString& operator+=(char16_t ch) {
    Append(&ch, 1);
    return *this;
  }
  friend CString operator+(const CString& a, const CString& b) {
    CString r(a);
    r += b;
    return r;
  }

  // Comparisons see each text as the run-time's C-string comparisons do: up
  // to its first zero unit, so every lookup treats an embedded zero alike.
  int Compare(const char16_t* psz) const { return CText().compare(psz ? psz : u""); }
  // Compare ignoring the case of ASCII letters.
  int CompareNoCase(const char16_t* psz) const;
  friend bool operator==(const CString& a, const CString& b) { return a.CText() == b.CText(); }
  friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
  friend bool operator==(const CString& a, const char16_t* b) { return a.CText() == (b ? b : u""); }
  friend bool operator!=(const CString& a, const char16_t* b) { return !(a == b); }

  CString Left(int n) const;
  CString Mid(int first) const;
  CString Mid(int first, int count) const;
  int Find(char16_t ch, int start = 0) const;
  int Find(const char16_t* sub, int start = 0) const;
  int Replace(const char16_t* oldText, const char16_t* newText);
  CString& TrimLeft();  // removes leading white space

  // printf-like formatting; the component uses %d, %ld (32-bit), %I64d,
  // %x, %s (a const char16_t*) and %%.
  void Format(const char16_t* fmt, ...);
  void AppendFormat(const char16_t* fmt, ...);

  // A new BSTR holding this text; raises std::bad_alloc on failure.
  BSTR AllocSysString() const;

 private:
  struct Rep {
    std::atomic<int> refs;
    int length;
    int capacity;  // units the block holds besides its final zero
  };
  static char16_t* Units(Rep* r) { return reinterpret_cast<char16_t*>(r + 1); }
  static const char16_t* Units(const Rep* r) { return reinterpret_cast<const char16_t*>(r + 1); }
  static Rep* NewRep(std::size_t capacity);
  static void AddRef(Rep* r) noexcept {
    if (r) r->refs.fetch_add(1, std::memory_order_relaxed);
  }
  static void Release(Rep* r) noexcept {
    if (r && r->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) ::operator delete(r);
  }
  // A block of this string's own holding at least `capacity` units, with
  // the first `keep` units of the old text; the old block is released after
  // the copy, so a source inside it stays readable until then.
  char16_t* Own(std::size_t capacity, std::size_t keep);

  Rep* Get() const {
    Rep* p;
    std::memcpy(&p, m_raw, sizeof p);
    return p;
  }
  void Set(Rep* p) { std::memcpy(m_raw, &p, sizeof p); }
  unsigned char m_raw[sizeof(void*)];
};
static_assert(alignof(CString) == 1, "CString must fit packed records");

// The whole text of a BSTR, zero units inside it included.
inline CString BstrText(BSTR b) { return CString::Shared(b, SysStringLen(b)); }

// UTF-8 <-> UTF-16 helpers for the tool's edges and for test messages.
std::string ToUtf8(std::u16string_view s);
std::u16string FromUtf8(const std::string& s);

// ---------------------------------------------------------------------------
// Containers. Thin layers over the standard containers: amortised growth,
// indexes are `int` as in the framework.
class CStringArray {
 public:
  int GetSize() const { return static_cast<int>(m_a.size()); }
  int GetCount() const { return GetSize(); }
  bool IsEmpty() const { return m_a.empty(); }
  int Add(const CString& s) {
    m_a.push_back(s);
    return GetSize() - 1;
  }
  int Add(CString&& s) {
    m_a.push_back(std::move(s));
    return GetSize() - 1;
  }
  const CString& GetAt(int i) const { return m_a[static_cast<std::size_t>(i)]; }
  CString& ElementAt(int i) { return m_a[static_cast<std::size_t>(i)]; }
  const CString& operator[](int i) const { return GetAt(i); }
  CString& operator[](int i) { return ElementAt(i); }
  void SetSize(int n) { m_a.resize(static_cast<std::size_t>(n < 0 ? 0 : n)); }
  void RemoveAll() { m_a.clear(); }
  void Reserve(int n) { m_a.reserve(static_cast<std::size_t>(n < 0 ? 0 : n)); }

 private:
  std::vector<CString> m_a;
};

// CArray keeps its elements in one heap block (sizes, then the elements)
// behind a pointer-sized handle stored in bytes, like CString, so that it
// can sit in 1-byte packed records and a non-empty array costs one block.
template <class TYPE, class ARG_TYPE = const TYPE&>
class CArray {
 public:
  CArray() noexcept { Set(nullptr); }
  ~CArray() { Free(Get()); }
  CArray(const CArray& o) {
    Set(nullptr);
    Append(o);
  }
  CArray(CArray&& o) noexcept {
    Set(o.Get());
    o.Set(nullptr);
  }
  CArray& operator=(const CArray& o) {
    if (this != &o) {
      RemoveAll();
      Append(o);
    }
    return *this;
  }
  CArray& operator=(CArray&& o) noexcept {
    if (this != &o) {
      Free(Get());
      Set(o.Get());
      o.Set(nullptr);
    }
    return *this;
  }

  int GetSize() const { return Get() ? Get()->size : 0; }
  int GetCount() const { return GetSize(); }
  bool IsEmpty() const { return GetSize() == 0; }
  int Add(ARG_TYPE v) {
    const int n = GetSize();
    if (Get() == nullptr || n == Get()->capacity) {
      TYPE copy(v);  // v may be one of this array's own elements
      Grow(n == 0 ? 1 : 2 * n);
      new (Items(Get()) + n) TYPE(std::move(copy));
    } else {
      new (Items(Get()) + n) TYPE(v);
    }
    Get()->size = n + 1;
    return n;
  }
  const TYPE& GetAt(int i) const { return Items(Get())[i]; }
  TYPE& ElementAt(int i) { return Items(Get())[i]; }
  void SetAt(int i, ARG_TYPE v) { Items(Get())[i] = v; }
  const TYPE& operator[](int i) const { return GetAt(i); }
  TYPE& operator[](int i) { return ElementAt(i); }
  void SetSize(int n) {
    if (n < 0) n = 0;
    const int old = GetSize();
    if (n > old) {
      if (Get() == nullptr || n > Get()->capacity) Grow(n);
      for (int i = old; i < n; ++i) {
        new (Items(Get()) + i) TYPE();
        Get()->size = i + 1;
      }
    } else {
      Truncate(n);
    }
  }
  void RemoveAll() { Truncate(0); }
  int Append(const CArray& o) {
    const int first = GetSize();
    const int n = o.GetSize();
    if (n == 0) return first;
    if (Get() == nullptr || first + n > Get()->capacity) Grow(first + n);
    for (int i = 0; i < n; ++i) {
      new (Items(Get()) + first + i) TYPE(o.GetAt(i));
      Get()->size = first + i + 1;
    }
    return first;
  }
  void Copy(const CArray& o) { *this = o; }
  TYPE* GetData() { return IsEmpty() ? nullptr : Items(Get()); }
  const TYPE* GetData() const { return IsEmpty() ? nullptr : Items(Get()); }

 private:
  struct Head {
    int size;
    int capacity;
  };
  static constexpr std::size_t kItemsAt = (sizeof(Head) + alignof(TYPE) - 1) / alignof(TYPE) * alignof(TYPE);
  static TYPE* Items(Head* h) { return reinterpret_cast<TYPE*>(reinterpret_cast<unsigned char*>(h) + kItemsAt); }
  static const TYPE* Items(const Head* h) {
    return reinterpret_cast<const TYPE*>(reinterpret_cast<const unsigned char*>(h) + kItemsAt);
  }
  // Moves the elements into a block for `capacity` of them.
  void Grow(int capacity) {
    static_assert(alignof(TYPE) <= alignof(std::max_align_t), "over-aligned elements");
    if (static_cast<std::size_t>(capacity) > (0x7FFFFFFFu - kItemsAt) / sizeof(TYPE)) throw std::bad_alloc();
    Head* h = static_cast<Head*>(::operator new(kItemsAt + static_cast<std::size_t>(capacity) * sizeof(TYPE)));
    h->size = 0;
    h->capacity = capacity;
    if (Head* old = Get()) {
      for (int i = 0; i < old->size; ++i) {
        new (Items(h) + i) TYPE(std::move(Items(old)[i]));
        Items(old)[i].~TYPE();
      }
      h->size = old->size;
      ::operator delete(old);
    }
    Set(h);
  }
  void Truncate(int n) {
    Head* h = Get();
    if (h == nullptr) return;
    while (h->size > n) Items(h)[--h->size].~TYPE();
  }
  static void Free(Head* h) noexcept {
    if (h == nullptr) return;
    for (int i = h->size; i > 0; --i) Items(h)[i - 1].~TYPE();
    ::operator delete(h);
  }
  Head* Get() const {
    Head* p;
    std::memcpy(&p, m_raw, sizeof p);
    return p;
  }
  void Set(Head* p) { std::memcpy(m_raw, &p, sizeof p); }
  unsigned char m_raw[sizeof(void*)];
};

// The framework's untyped base classes exist only as template tags here.
class CPtrArray;
class CPtrList;

template <class BASE, class TYPE>
class CTypedPtrArray {
 public:
  int GetSize() const { return static_cast<int>(m_a.size()); }
  int GetCount() const { return GetSize(); }
  bool IsEmpty() const { return m_a.empty(); }
  int Add(TYPE p) {
    m_a.push_back(p);
    return GetSize() - 1;
  }
  TYPE GetAt(int i) const { return m_a[static_cast<std::size_t>(i)]; }
  void SetAt(int i, TYPE p) { m_a[static_cast<std::size_t>(i)] = p; }
  TYPE operator[](int i) const { return GetAt(i); }
  TYPE& ElementAt(int i) { return m_a[static_cast<std::size_t>(i)]; }
  void SetSize(int n) { m_a.resize(static_cast<std::size_t>(n < 0 ? 0 : n), nullptr); }
  void RemoveAll() { m_a.clear(); }
  int Append(const CTypedPtrArray& o) {
    int first = GetSize();
    m_a.insert(m_a.end(), o.m_a.begin(), o.m_a.end());
    return first;
  }
  void Copy(const CTypedPtrArray& o) { m_a = o.m_a; }
  void Reserve(int n) { m_a.reserve(static_cast<std::size_t>(n < 0 ? 0 : n)); }

 private:
  std::vector<TYPE> m_a;
};

// An opaque iteration position; null ends an iteration.
struct __POSITION;
using POSITION = __POSITION*;

template <class BASE, class TYPE>
class CTypedPtrList {
 public:
  int GetCount() const { return static_cast<int>(m_a.size()); }
  bool IsEmpty() const { return m_a.empty(); }
  POSITION AddTail(TYPE p) {
    m_a.push_back(p);
    return ToPos(m_a.size() - 1);
  }
  TYPE GetHead() const { return m_a.front(); }
  TYPE GetTail() const { return m_a.back(); }
  POSITION GetHeadPosition() const { return m_a.empty() ? nullptr : ToPos(0); }
  // Returns the entry at `pos` and advances `pos` (null after the tail).
  TYPE GetNext(POSITION& pos) const {
    std::size_t i = FromPos(pos);
    pos = (i + 1 < m_a.size()) ? ToPos(i + 1) : nullptr;
    return m_a[i];
  }
  void RemoveAll() { m_a.clear(); }
  // Index access for the component's in-order consumers.
  TYPE GetAtIndex(int i) const { return m_a[static_cast<std::size_t>(i)]; }

 private:
  static POSITION ToPos(std::size_t i) { return reinterpret_cast<POSITION>(i + 1); }
  static std::size_t FromPos(POSITION p) { return reinterpret_cast<std::size_t>(p) - 1; }
  std::vector<TYPE> m_a;
};

template <class KEY, class ARG_KEY, class VALUE, class ARG_VALUE>
class CMap {
 public:
  explicit CMap(int nBlockSize = 10) : m_nBlockSize(nBlockSize) {}
  void InitHashTable(UINT nHashSize) { m_m.reserve(nHashSize); }
  int GetCount() const { return static_cast<int>(m_m.size()); }
  bool IsEmpty() const { return m_m.empty(); }
  bool Lookup(ARG_KEY key, VALUE& value) const {
    auto it = m_m.find(key);
    if (it == m_m.end()) return false;
    value = it->second;
    return true;
  }
  void SetAt(ARG_KEY key, ARG_VALUE value) { m_m[key] = value; }
  VALUE& operator[](ARG_KEY key) { return m_m[key]; }
  bool RemoveKey(ARG_KEY key) { return m_m.erase(key) != 0; }
  void RemoveAll() { m_m.clear(); }
  // Visits every entry once, in no particular order.
  template <class F>
  void ForEach(F f) const {
    for (const auto& kv : m_m) f(kv.first, kv.second);
  }
  int GetBlockSize() const { return m_nBlockSize; }

 private:
  int m_nBlockSize;
  std::unordered_map<KEY, VALUE> m_m;
};

// ---------------------------------------------------------------------------
// Local time.
struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};
// The machine's local date and time in whole seconds (milliseconds 0), with
// the day of the week (0 = Sunday).
SYSTEMTIME GetLocalTimeWholeSeconds();

// ---------------------------------------------------------------------------
// The calling thread's ANSI code page: 1252 until set; the double-byte code
// pages 932, 936, 949 and 950 are also supported. Unknown code pages are
// refused.
UINT GetThreadAnsiCodePage();
bool SetThreadAnsiCodePage(UINT codePage);  // false: not supported, unchanged
bool IsSupportedCodePage(UINT codePage);

// True when `b` is a lead byte of a double-byte character in the thread's
// ANSI code page (never for a single-byte code page).
bool IsAnsiLeadByte(BYTE b);

// Appends the code-page form of `n` UTF-16 units to `out`. A code point the
// code page cannot hold becomes one '?'. Returns the number of bytes added.
std::size_t AppendWideToAnsi(const char16_t* p, std::size_t n, std::string& out);
// Number of bytes AppendWideToAnsi would add.
std::size_t WideToAnsiLength(const char16_t* p, std::size_t n);
// Appends the UTF-16 form of `n` code-page bytes to `out`. Never fails: a
// byte at which no valid character starts becomes U+FFFD.
void AppendAnsiToWide(const BYTE* p, std::size_t n, std::u16string& out);

// Explicit code page variants, for tools and tests.
std::size_t AppendWideToCodePage(UINT cp, const char16_t* p, std::size_t n, std::string& out);
void AppendCodePageToWide(UINT cp, const BYTE* p, std::size_t n, std::u16string& out);

// ---------------------------------------------------------------------------
// Digest service. Algorithm identifiers follow the original platform.
constexpr ULONG CALG_MD5 = 0x00008003;
// Hashes `len` bytes at `data` with `algorithm` into `out` (at most outLen
// bytes). Returns false when the algorithm is unknown or the service fails.
bool PlatformHash(ULONG algorithm, const BYTE* data, std::size_t len, BYTE* out, ULONG outLen);

// ---------------------------------------------------------------------------
// Run-time wide number readers: leading white space (TAB, LF, VT, FF, CR,
// SPACE), optional sign, ASCII digits; out-of-range values clamp.
int _wtoi(const char16_t* s);
LONG _wtol(const char16_t* s);
LONGLONG _wtoi64(const char16_t* s);
// The same reading on at most n units of s (it also stops at a zero unit),
// the value clamped to [lo, hi] (lo <= 0 <= hi): for fields inside a line.
LONGLONG WideToDecimalClamped(const char16_t* s, std::size_t n, LONGLONG lo, LONGLONG hi);
// Base 0 or 2..36; base 16 accepts an optional "0x"/"0X" prefix.
LONG wcstol(const char16_t* s, char16_t** end, int base);

// The images, blocks and UTF-16 texts are little-endian, and so is the host
// this layer supports: code above it copies UTF-16 units as they stand.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "a little-endian host is required");

// ---------------------------------------------------------------------------
// The framework archive encoding of counts and strings (little-endian).
class CArchiveException : public std::exception {
 public:
  const char* what() const noexcept override { return "archive: read past the end"; }
};

class CArchiveWriter {
 public:
  void WriteByte(BYTE v) { m_buf.push_back(v); }
  void WriteWord(WORD v);
  void WriteDWord(DWORD v);
  void WriteLong(LONG v) { WriteDWord(static_cast<DWORD>(v)); }
  // Counts: below 0xFFFF as 16-bit, else 0xFFFF and the 32-bit count.
  void WriteCount(DWORD n);
  // Strings: always tagged as Unicode (FF FE FF), length in 1, 3 or 7 bytes,
  // then the UTF-16LE units.
  void WriteString(const CString& s);
  void WriteBytes(const void* p, std::size_t n);
  const std::vector<BYTE>& Buffer() const { return m_buf; }
  std::size_t Size() const { return m_buf.size(); }

 private:
  std::vector<BYTE> m_buf;
};

// Reads what CArchiveWriter writes; raises CArchiveException on reading past
// the end. Untagged strings are single-byte text of the thread's ANSI code
// page.
class CArchiveReader {
 public:
  CArchiveReader(const BYTE* p, std::size_t n) : m_p(p), m_n(n) {}
  BYTE ReadByte();
  WORD ReadWord();
  DWORD ReadDWord();
  LONG ReadLong() { return static_cast<LONG>(ReadDWord()); }
  DWORD ReadCount();
  CString ReadString();
  // Copies up to n bytes; returns how many were available.
  std::size_t ReadBytes(void* p, std::size_t n);
  std::size_t Remaining() const { return m_n - m_pos; }
  std::size_t Position() const { return m_pos; }

 private:
  void Need(std::size_t n) const {
    if (n > m_n - m_pos) throw CArchiveException();
  }
  const BYTE* m_p;
  std::size_t m_n;
  std::size_t m_pos = 0;
};

#pragma GCC visibility pop
