#include "ComSupport.h"

#include "SystemAccess.h"

namespace sevenzip {

void Property::Clear() {
    if (value_.type == kTypeBstr) FreeLibraryText(value_.bstrValue);
    value_ = PropertyValue{};
}

std::u16string Property::Text() const { return IsText() ? FromLibraryText(value_.bstrValue) : std::u16string(); }

std::string Property::Bytes() const {
    if (!IsText()) return std::string();
    // A BSTR's byte count lies in the 32 bits before it, on every system.
    const uint32_t length = reinterpret_cast<const uint32_t*>(value_.bstrValue)[-1];
    return std::string(reinterpret_cast<const char*>(value_.bstrValue), length);
}

bool Property::Number(uint64_t& number) const {
    if (value_.type == kTypeUint64) number = value_.uint64Value;
    else if (value_.type == kTypeUint32) number = value_.uint32Value;
    else return false;
    return true;
}

bool Property::Time(FileTime& time) const {
    if (value_.type != kTypeFileTime) return false;
    time = value_.fileTimeValue;
    return true;
}

}  // namespace sevenzip
