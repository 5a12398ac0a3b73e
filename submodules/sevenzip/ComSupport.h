// What the module needs to hold 7-Zip's objects and to hand 7-Zip objects of its own: a counted
// pointer, a reference count that may be touched from 7-Zip's threads, and property values that
// free what they hold.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

#include "LibraryInterface.h"

namespace sevenzip {

// Owns one reference to a 7-Zip object (or one of ours handed to 7-Zip).
template <typename T>
class ComPointer {
public:
    ComPointer() = default;
    ComPointer(const ComPointer& other) : object_(other.object_) {
        if (object_) object_->AddRef();
    }
    ComPointer(ComPointer&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
    ~ComPointer() { Reset(); }
    ComPointer& operator=(ComPointer other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    // Takes over a reference that the caller already holds (a new object, an out-parameter).
    static ComPointer Adopt(T* object) {
        ComPointer pointer;
        pointer.object_ = object;
        return pointer;
    }
    void Reset() {
        if (object_) object_->Release();
        object_ = nullptr;
    }
    // For out-parameters: releases what is held and gives the slot to fill.
    T** Receive() {
        Reset();
        return &object_;
    }
    T* Get() const { return object_; }
    T* operator->() const { return object_; }
    T& operator*() const { return *object_; }
    explicit operator bool() const { return object_ != nullptr; }

    // The same object seen through another of its interfaces; empty when it has none.
    template <typename Other>
    ComPointer<Other> Query(const Guid& iid) const {
        ComPointer<Other> other;
        if (object_ && object_->QueryInterface(iid, reinterpret_cast<void**>(other.Receive())) != kOk) other.Reset();
        return other;
    }

private:
    T* object_ = nullptr;
};

// The reference count of the module's own objects; 7-Zip may take and drop references on any of
// its threads.
class ReferenceCount {
public:
    uint32_t Add() { return ++count_; }
    // True when the last reference is gone.
    bool Drop(uint32_t& left) {
        left = --count_;
        return left == 0;
    }

private:
    std::atomic<uint32_t> count_{1};
};

// AddRef and Release of a class of ours that derives from 7-Zip interfaces; the object starts with
// the one reference of its creator.
#define SEVENZIP_REFERENCE_COUNTED                                        \
    uint32_t SEVENZIP_CALL AddRef() override { return references_.Add(); } \
    uint32_t SEVENZIP_CALL Release() override {                            \
        uint32_t left = 0;                                                 \
        if (references_.Drop(left)) delete this;                           \
        return left;                                                       \
    }                                                                      \
    ReferenceCount references_;

// A property value that 7-Zip fills; frees its text when it is destroyed.
class Property {
public:
    Property() : value_{} {}
    ~Property() { Clear(); }
    Property(const Property&) = delete;
    Property& operator=(const Property&) = delete;

    // Empties the value and gives it to fill.
    PropertyValue* Receive() {
        Clear();
        return &value_;
    }
    const PropertyValue& Value() const { return value_; }

    bool IsText() const { return value_.type == kTypeBstr && value_.bstrValue; }
    // The text as UTF-16 (empty when it is none).
    std::u16string Text() const;
    // A BSTR's bytes, as 7-Zip keeps binary values such as signatures and class ids.
    std::string Bytes() const;
    // VT_BOOL as a flag; anything else is false.
    bool Flag() const { return value_.type == kTypeBool && value_.boolValue != 0; }
    // VT_UI4 or VT_UI8 (7-Zip uses both for sizes).
    bool Number(uint64_t& number) const;
    bool Time(FileTime& time) const;

private:
    void Clear();
    PropertyValue value_;
};

}  // namespace sevenzip
