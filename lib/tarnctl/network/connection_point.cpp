// Connection points of kernel NICs: which kind, and the texts that name them.
#include "hostctl/network_tarnnic.h"

namespace HostCtl::Network {

ConnectionPoint ConnectionPoint::PortGroup(const std::string& name) {
    ConnectionPoint cp;
    cp._type = VSS_PORT_GROUP;
    cp._a = name;
    return cp;
}

ConnectionPoint ConnectionPoint::DVPort(const std::string& dvsId, const std::string& portId,
                                        const std::string& connectionId) {
    ConnectionPoint cp;
    cp._type = VDS;
    cp._a = dvsId;
    cp._b = portId;
    cp._c = connectionId;
    return cp;
}

ConnectionPoint ConnectionPoint::OpaqueNetwork(const std::string& networkId, const std::string& networkType,
                                               const std::string& externalId) {
    ConnectionPoint cp;
    cp._type = OPAQUE_NETWORK;
    cp._a = networkId;
    cp._b = networkType;
    cp._c = externalId;
    return cp;
}

const char* ConnectionPoint::TypeName(Type t) {
    switch (t) {
    case VSS_PORT_GROUP: return "VSS_PORT_GROUP";
    case VDS: return "VDS";
    case OPAQUE_NETWORK: return "OPAQUE_NETWORK";
    default: return "NONE";
    }
}

std::string ConnectionPoint::ToString() const {
    switch (_type) {
    case VSS_PORT_GROUP: return _a;
    case VDS: return _a + ":" + _b;
    case OPAQUE_NETWORK: return _a + ":" + _b + ":" + _c;
    default: return "";
    }
}

}  // namespace HostCtl::Network
