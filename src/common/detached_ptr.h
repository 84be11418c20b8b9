// Ownership of an object defined by a higher layer, held inside a record of a
// lower one. Moving the record moves the object; copying the record gives the
// copy none (the object is state that is rebuilt, not part of the record's
// value). The owner supplies the deleter when it creates the object, so the
// lower layer never needs the type's definition.
#pragma once

#include <utility>

namespace brevid {

template <class T>
class DetachedPtr {
 public:
  DetachedPtr() = default;
  DetachedPtr(T* object, void (*destroy)(T*)) : object_(object), destroy_(destroy) {}
  ~DetachedPtr() { reset(); }

  DetachedPtr(DetachedPtr&& other) noexcept
      : object_(std::exchange(other.object_, nullptr)), destroy_(other.destroy_) {}
  DetachedPtr& operator=(DetachedPtr&& other) noexcept {
    if (this != &other) {
      reset();
      object_ = std::exchange(other.object_, nullptr);
      destroy_ = other.destroy_;
    }
    return *this;
  }
  DetachedPtr(const DetachedPtr&) {}
  DetachedPtr& operator=(const DetachedPtr& other) {
    if (this != &other) reset();
    return *this;
  }

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }
  explicit operator bool() const { return object_ != nullptr; }
  void reset() {
    if (object_) destroy_(object_);
    object_ = nullptr;
  }

 private:
  T* object_ = nullptr;
  void (*destroy_)(T*) = nullptr;
};

}  // namespace brevid
