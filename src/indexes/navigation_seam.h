// What building needs of navigation: selecting the current order by tag
// name after a Reindex. Navigation provides it.
#pragma once

#include <string>

namespace qd {

// Selects the order by tag name (compared in upper case); an empty name
// selects natural order. True when an order was selected.
bool SetOrderToTag(const std::string& name);

}  // namespace qd
