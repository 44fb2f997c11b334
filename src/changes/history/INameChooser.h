// The choose-name dialog, as replay sees it: given the request (caption,
// message and the candidates), the user picks one candidate or cancels. The
// history window implements it with its modal dialog; tests script it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zephrin {

struct ChooseNameEntry {
    std::u16string Text;
    int32_t ItemNumber = 0;  // a type index, MEMBERID or position
};

struct ChooseNameRequest {
    std::u16string Caption;  // "Choose Name"
    std::u16string Message;  // what is missing and what to choose
    std::vector<ChooseNameEntry> Entries;
};

class INameChooser {
public:
    virtual ~INameChooser() = default;
    // The index in request.Entries of the chosen entry; nothing when cancelled.
    virtual std::optional<size_t> ChooseName(const ChooseNameRequest& request) = 0;
};

}  // namespace zephrin
