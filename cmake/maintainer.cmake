# SPDX-License-Identifier: MIT
# The packages' maintainer must be one person, as dpkg and lintian read the
# Maintainer field: "Name <user@host>", where the name holds no comma,
# quotation mark, bracket or other character of an address's syntax, the
# user is no root, and the host is a domain name of two labels or more,
# not this machine's (localhost, localdomain).
#
# Included, it defines check_maintainer(TEXT), which fails configure for a
# maintainer lintian would reject.  Run as
#   cmake -D MAINTAINER=TEXT -P maintainer.cmake
# it checks TEXT alone, and fails the same way.

function(check_maintainer text)
  set(word "[^][<>()@,;:\\\" \t\n]+")
  set(label "[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?")
  set(user "[A-Za-z0-9!#$%&'*+/=?^_`{|}~.-]+")
  if(NOT text MATCHES "^${word}( +${word})* <${user}@${label}(\\.${label})+>$"
      OR text MATCHES "^root <|<root@|@localhost>|\\.localdomain>$")
    message(FATAL_ERROR "The maintainer is '${text}', which dpkg and lintian do not "
      "take for one person: write 'Name <user@host.domain>', with no comma, quotation "
      "mark or bracket in the name, not root, and not at localhost.")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  check_maintainer("${MAINTAINER}")
endif()
