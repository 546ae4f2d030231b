#include "app/explain/gone_port.h"

namespace zq {

std::string explainGonePort(std::string_view device) {
    return std::string(device) +
           ": the port has gone (unplugged, switched off, or its virtual board stopped), so "
           "nothing was opened; it stays chosen and can be used again once it is back.";
}

}  // namespace zq
