#include "app/ports/port_source.h"

namespace zq {

PortSource systemPortSource() {
    return {.list = discoverPorts, .watch = watchPorts};
}

}  // namespace zq
