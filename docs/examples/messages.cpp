// Catalogue messages: markers in the text, and printing through the host.
#include <cassert>
#include <cstring>

#include "libutils/csgl/csgl_message.hpp"

int main() {
    // A leading variable, a reference to it, and a parameter.
    csgl_message message("[v[cn=x]v]Entry [v[=v=VAR=v=]v] has [p[3]p] values", -11, nullptr, 0);
    assert(std::strcmp(message.msg_string(), "Entry cn=x has 3 values") == 0);
    const csgl_message_& body = *message.representation();
    assert(body.parameter_count == 2 && body.parameters[2] == nullptr);
    assert(std::strcmp(body.parameters[0], "cn=x") == 0 && std::strcmp(body.parameters[1], "3") == 0);

    // Copies share the body.
    const csgl_message copy = message;
    assert(copy.representation() == message.representation());

    // A negative number prints catalogue message 11 with the ten parameters
    // as inserts; the host receives the selectors swapped, 5 first.  With
    // the stand-in message service this prints, on standard error,
    //   MSG0011 (5,8): entry cn=x has 3 values
    // and the body keeps the printed text.
    message.log(8, 5);
    assert(std::strcmp(body.printed, "entry cn=x has 3 values") == 0);

    // A positive number prints the file and line first.
    csgl_message located("cannot open [p[/var/db]p]", 4, "store.cpp", 12);
    located.log(8, 5);  // MSG0004 (5,8): store.cpp: line 12: cannot open /var/db
    assert(std::strcmp(located.representation()->printed,
                       "store.cpp: line 12: cannot open /var/db") == 0);

    // Number 0 prints nothing.
    csgl_message quiet("nothing to say", 0, __FILE__, __LINE__);
    quiet.log(8, 5);
    assert(quiet.representation()->printed[0] == '\0');
    return 0;
}
