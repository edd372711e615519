// Loading a data set (users, workspaces, categories, members, tasks,
// events) from JSON; the format is described in README.md.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "Store.h"

namespace hvsvc {

// Loads the whole document in one transaction: either everything or nothing.
void LoadSeed(CStore& store, const nlohmann::json& doc);
void LoadSeedFile(CStore& store, const std::string& path);

// Record conversions shared with the administrative interface.
nlohmann::json TaskToJson(const Task& t);
nlohmann::json EventToJson(const Event& e);
// Resolves "user" given by name or id.
int64_t UserRef(CStore& store, const nlohmann::json& ref);
// Reads the task/event fields present in j into t/e (names as on the wire).
void TaskFromJson(CStore& store, const nlohmann::json& j, Task& t);
void EventFromJson(CStore& store, const nlohmann::json& j, Event& e);

}  // namespace hvsvc
