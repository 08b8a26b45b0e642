// _bstr_t: one BSTR shared by every copy, freed with the last one.
#include <algorithm>
#include <cstring>

#include "platform/com/comdef.h"

namespace {

BSTR AllocOrThrow(const char16_t* text, std::size_t len) {
  if (len > 0x7FFFFFF0u) _com_issue_error(E_OUTOFMEMORY);
  BSTR b = SysAllocStringLen(text, static_cast<UINT>(len));
  if (!b) _com_issue_error(E_OUTOFMEMORY);
  return b;
}

std::size_t TextLen(const char16_t* s) noexcept {
  std::size_t n = 0;
  if (s)
    while (s[n]) ++n;
  return n;
}

}  // namespace

_bstr_t::Data* _bstr_t::NewData(BSTR owned) {
  auto* d = new (std::nothrow) Data;
  if (!d) {
    SysFreeString(owned);
    _com_issue_error(E_OUTOFMEMORY);
  }
  d->bstr = owned;
  return d;
}

void _bstr_t::Release() noexcept {
  Data* d = std::exchange(data_, nullptr);
  if (d && d->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    SysFreeString(d->bstr);
    delete d;
  }
}

_bstr_t::_bstr_t(const _bstr_t& s) noexcept : data_(s.data_) {
  if (data_) data_->refs.fetch_add(1, std::memory_order_relaxed);
}

_bstr_t::_bstr_t(const char16_t* s) {
  if (s) data_ = NewData(AllocOrThrow(s, TextLen(s)));
}

_bstr_t::_bstr_t(std::u16string_view s) { data_ = NewData(AllocOrThrow(s.data(), s.size())); }

_bstr_t::_bstr_t(BSTR bstr, bool fCopy) {
  if (fCopy) {
    if (bstr) data_ = NewData(AllocOrThrow(bstr, SysStringLen(bstr)));
  } else if (bstr) {
    data_ = NewData(bstr);
  }
}

_bstr_t::_bstr_t(const _variant_t& var) {
  if (var.vt == VT_BSTR) {
    if (var.bstrVal) data_ = NewData(AllocOrThrow(var.bstrVal, SysStringLen(var.bstrVal)));
    return;
  }
  _variant_t converted;
  HRESULT hr = VariantChangeType(&converted, &var, 0, VT_BSTR);
  if (FAILED(hr)) _com_issue_error(hr);
  if (converted.bstrVal) data_ = NewData(std::exchange(converted.bstrVal, nullptr));
  converted.vt = VT_EMPTY;
}

_bstr_t& _bstr_t::operator=(const _bstr_t& s) noexcept {
  if (s.data_ != data_) {
    _bstr_t tmp(s);
    std::swap(data_, tmp.data_);
  }
  return *this;
}

_bstr_t& _bstr_t::operator=(_bstr_t&& s) noexcept {
  if (this != &s) {
    Release();
    data_ = std::exchange(s.data_, nullptr);
  }
  return *this;
}

_bstr_t& _bstr_t::operator=(const char16_t* s) { return *this = _bstr_t(s); }

_bstr_t& _bstr_t::operator=(const _variant_t& var) { return *this = _bstr_t(var); }

_bstr_t& _bstr_t::operator+=(const _bstr_t& s) {
  *this = *this + s;
  return *this;
}

_bstr_t _bstr_t::operator+(const _bstr_t& s) const {
  const unsigned a = length();
  const unsigned b = s.length();
  if (a == 0 && b == 0 && !data_ && !s.data_) return _bstr_t();
  BSTR out = AllocOrThrow(nullptr, std::size_t{a} + b);
  if (a) std::memcpy(out, data_->bstr, a * sizeof(char16_t));
  if (b) std::memcpy(out + a, s.data_->bstr, b * sizeof(char16_t));
  return _bstr_t(out, false);
}

_bstr_t operator+(const char16_t* a, const _bstr_t& b) { return _bstr_t(a) + b; }

int _bstr_t::compare(const _bstr_t& s) const noexcept {
  const std::u16string_view a = view();
  const std::u16string_view b = s.view();
  return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

unsigned int _bstr_t::length() const noexcept { return data_ ? SysStringLen(data_->bstr) : 0; }

BSTR _bstr_t::copy(bool fCopy) const {
  if (!data_ || !data_->bstr) return nullptr;
  return fCopy ? AllocOrThrow(data_->bstr, SysStringLen(data_->bstr)) : data_->bstr;
}

void _bstr_t::Assign(BSTR s) { *this = _bstr_t(s, true); }

void _bstr_t::Attach(BSTR s) { *this = _bstr_t(s, false); }

BSTR _bstr_t::Detach() {
  if (!data_) return nullptr;
  if (data_->refs.load(std::memory_order_acquire) == 1) {
    BSTR out = std::exchange(data_->bstr, nullptr);
    Release();
    return out;
  }
  BSTR out = copy(true);
  Release();
  return out;
}

BSTR* _bstr_t::GetAddress() {
  Release();
  data_ = NewData(nullptr);
  return &data_->bstr;
}

void _bstr_t::MakeUnique() {
  if (!data_) {
    data_ = NewData(nullptr);
  } else if (data_->refs.load(std::memory_order_acquire) != 1) {
    Data* fresh = NewData(copy(true));
    Release();
    data_ = fresh;
  }
}

BSTR& _bstr_t::GetBSTR() {
  MakeUnique();
  return data_->bstr;
}
