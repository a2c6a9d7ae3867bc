#pragma once
// A value as it comes back from the configuration file: written as a key's value and
// read again. Empty when the writer refuses it or the reader finds nothing.
#include <optional>
#include <string>

#include "platform/config/ProfileText.h"

namespace qlnfuzz {

// Whether the writer refuses a value the reader could not give back whole. Until it
// does, only values within the reader's bound are expected back unchanged.
inline bool WriterRefusesOverlong()
{
    static const bool refuses
        = !ProfileText().Write("s", "k", std::string(ProfileText::MaxValueLength + 1, 'x'));
    return refuses;
}

inline std::optional<std::string> ThroughProfile(const std::string& value)
{
    ProfileText text("[COM1]\n; a comment\nNetCount=1\n");
    std::string back;
    if (!text.Write("COM1", "Net1Value", value) || !ProfileText(text.Content()).Read("COM1", "Net1Value", back))
        return std::nullopt;
    return back;
}

// Whether a value taken back from the file must be the value written.
inline bool MustComeBackWhole(const std::string& value)
{
    return WriterRefusesOverlong() || value.size() <= ProfileText::MaxValueLength;
}

} // namespace qlnfuzz
