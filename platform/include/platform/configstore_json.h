// Store objects to and from a parsed JSON document, for code that already
// holds one (the configuration tree's write-back): the same form as
// ConfigStoreObject::GetData / FromData without the text in between.
#pragma once

#include <rapidjson/document.h>

#include <memory>

#include "platform/configstore.h"

namespace HaldenConfigStore {

// The fields of `object` into `out` (made an object), as GetData would print them.
void ObjectToJson(const StoreObject& object, rapidjson::Value& out, rapidjson::Document::AllocatorType& alloc);
// The object FromData would make of `json`'s text; throws InvalidArgumentException
// with the same texts when `json` is not an object or holds what no field can.
std::shared_ptr<ConfigStoreObject> ObjectFromJson(const ConfigStoreObjectId& id, const rapidjson::Value& json);

}  // namespace HaldenConfigStore
