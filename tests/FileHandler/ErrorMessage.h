// Test helper shared by the file format tests: the message of the FileTools::Error a call raises.
#pragma once

#include <string>

#include "FileHandler/ParseTools.h"

namespace synapsor {

// The message of the FileTools::Error that call raises; "no error" when it returns.
template <typename Call>
std::string MessageOf(Call call) {
    try {
        call();
    } catch (const FileTools::Error& e) {
        return e.message;
    }
    return "no error";
}

}  // namespace synapsor
