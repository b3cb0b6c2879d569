#pragma once

#include <QString>

// The account domain as the board uses it everywhere: in the server's host name, in the MQTT
// topic and in the settings. Users type it, so it arrives with blanks, capitals or characters
// that IDNA maps onto another label ("Ⅷ" is "viii"); all of those must address one account.
class DomainName
{
public:
    // Trimmed, in lower case and in its IDNA ASCII form. Empty for a domain that is empty, is
    // not a host name label, or holds an invisible or non-printing character, which would make
    // two different-looking texts address the same account.
    static QString normalised(const QString &typed);
};
