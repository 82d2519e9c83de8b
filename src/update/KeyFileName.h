#pragma once
// A key (a USB port, a node, a serial number) as one file name: letters, digits, '-' and '_'
// stay, every other byte becomes %XX, so no key leaves its directory and no two keys share a
// name; a key too long for a file name becomes the hash of it. Callers add a prefix: the name of
// the empty key is empty.

#include <QString>
#include <string>

QString KeyFileName(const std::string& key);
