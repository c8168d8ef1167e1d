#pragma once
// Intrusive reference counting for the remote object model. Every
// reference-counted object of the data path (data blocks, transports,
// dispatch objects and proxies, interceptors) derives from IUnknown; Ref<T>
// holds one reference. The count is atomic, so a reference may be moved to
// another thread (the sender raises it, the receiver drops it); the object
// itself is used by one thread at a time unless its class says otherwise.

#include <atomic>
#include <cstddef>
#include <type_traits>
#include <utility>

namespace quor::remote {

class IUnknown {
 public:
  IUnknown() = default;
  IUnknown(const IUnknown&) = delete;
  IUnknown& operator=(const IUnknown&) = delete;

  void AddRef() const noexcept { refs_.fetch_add(1, std::memory_order_relaxed); }
  // Frees the object when the last reference goes.
  void Release() const noexcept {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
  int RefCount() const noexcept { return refs_.load(std::memory_order_relaxed); }

 protected:
  virtual ~IUnknown() = default;

 private:
  mutable std::atomic<int> refs_{0};
};

template <class T>
class Ref {
 public:
  Ref() = default;
  Ref(std::nullptr_t) {}  // NOLINT(google-explicit-constructor): a null reference
  explicit Ref(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  Ref(const Ref& other) : Ref(other.p_) {}
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  template <class U>
  requires std::is_convertible_v<U*, T*> Ref(const Ref<U>& other)
      : Ref(other.get()) {}  // NOLINT(google-explicit-constructor)
  template <class U>
  requires std::is_convertible_v<U*, T*> Ref(Ref<U>&& other)
  noexcept : p_(other.Detach()) {}  // NOLINT(google-explicit-constructor)
  ~Ref() { reset(); }

  Ref& operator=(Ref other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  void reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }

  // Gives up the reference without dropping it (to hand it to another owner).
  T* Detach() noexcept { return std::exchange(p_, nullptr); }
  // Takes over a reference that was raised elsewhere (the counterpart of Detach).
  static Ref Adopt(T* p) noexcept {
    Ref r;
    r.p_ = p;
    return r;
  }

  friend bool operator==(const Ref& a, const Ref& b) noexcept { return a.p_ == b.p_; }
  friend bool operator==(const Ref& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }

 private:
  T* p_ = nullptr;
};

template <class T, class... Args>
Ref<T> MakeRef(Args&&... args) {
  return Ref<T>(new T(std::forward<Args>(args)...));
}

// The object's reference as another interface, or null (the QueryInterface of
// this model: a C++ class offers the interfaces it derives from).
template <class To, class From>
Ref<To> QueryInterface(const Ref<From>& from) {
  return Ref<To>(dynamic_cast<To*>(from.get()));
}

}  // namespace quor::remote
