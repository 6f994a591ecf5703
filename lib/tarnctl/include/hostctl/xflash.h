// The flash read cache.
#pragma once

#include "hostctl/object.h"

namespace HostCtl::XFlash {

class XFlashInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
};

}  // namespace HostCtl::XFlash
