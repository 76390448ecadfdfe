// The members of SQLConnection that a send by name reaches.
#pragma once

#include "xpp/object.h"
#include "xpp/value.h"

namespace rowxpp {

// Registers the exported methods, the class methods and the exported
// variables of the class for sends by name. A variable answers its name
// with its value; one that programs may change also answers "_" + its name
// with one argument, the new value (read-only ones refuse it as a message
// they do not answer).
void AddConnectionMessages(xpp::Class& c);

// A class object as a runtime value.
xpp::Value ClassValue(xpp::Class& c);

}  // namespace rowxpp
