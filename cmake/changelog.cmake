# SPDX-License-Identifier: MIT
# The version and the date of a build, from the newest entry of a changelog
# in Debian's format, whose first line names the version and whose closing
# line names the author and the date:
#
#   sepquote (1.1.0) unstable; urgency=medium
#   ...
#    -- Name <address>  Tue, 08 Dec 2026 13:45:23 +0000
#
# The date is SOURCE_DATE_EPOCH when that is set, as seconds since 1970;
# else the newest entry's, as dpkg-buildpackage takes it.  So a clone, an
# unpacked source tarball and a checkout that git will not read all give
# the same date.
#
# Included, it defines read_changelog(FILE VERSION_VAR EPOCH_VAR).  Run as
#   cmake -D CHANGELOG=FILE -P changelog.cmake
# it prints the version and the date, as "1.1.0 1796737523".

# days_since_1970(YEAR MONTH DAY VAR): the days from 1970-01-01 to the date,
# counted in years that start on 1 March, so that a leap day ends its year.
function(days_since_1970 year month day var)
  if(month LESS_EQUAL 2)
    math(EXPR year "${year} - 1")
    math(EXPR month "${month} + 9")
  else()
    math(EXPR month "${month} - 3")
  endif()
  math(EXPR era "${year} / 400")
  math(EXPR year_of_era "${year} - ${era} * 400")
  math(EXPR day_of_year "(153 * ${month} + 2) / 5 + ${day} - 1")
  math(EXPR day_of_era
    "${year_of_era} * 365 + ${year_of_era} / 4 - ${year_of_era} / 100 + ${day_of_year}")
  math(EXPR days "${era} * 146097 + ${day_of_era} - 719468")
  set(${var} ${days} PARENT_SCOPE)
endfunction()

# line_of(TEXT POSITION VAR): the number of the line of TEXT, which starts
# with a line end of its own, that holds POSITION.
function(line_of text position var)
  string(SUBSTRING "${text}" 0 ${position} before)
  string(REGEX REPLACE "[^\n]" "" ends "${before}")
  string(LENGTH "${ends}" line)
  set(${var} ${line} PARENT_SCOPE)
endfunction()

function(read_changelog file version_var epoch_var)
  # The file is searched as one string.  Split into a CMake list, its
  # brackets would join lines and its semicolons split them, and an entry
  # that names [ or ] would be read wrongly.
  file(READ "${file}" text)
  string(PREPEND text "\n")
  # An entry begins at a line that names a version, as
  # "sepquote (1.1.0) unstable; urgency=medium", and ends at a closing line,
  # which begins with " --".  The newest entry is the first, and its closing
  # line must come before the next entry begins.
  set(header_re "\n[A-Za-z0-9][A-Za-z0-9.+-]* \\(([^() \t\n]+)\\)( +[A-Za-z0-9.+-]+)+;[^\n]*")
  if(NOT text MATCHES "${header_re}")
    message(FATAL_ERROR "${file}: no entry begins with a line 'NAME (VERSION) DISTRIBUTION; urgency=URGENCY'")
  endif()
  set(version "${CMAKE_MATCH_1}")
  string(FIND "${text}" "${CMAKE_MATCH_0}" start)
  string(LENGTH "${CMAKE_MATCH_0}" length)
  math(EXPR start "${start} + ${length}")
  string(SUBSTRING "${text}" ${start} -1 rest)
  string(FIND "${rest}" "\n --" trailer_at)
  set(next_at -1)
  if(rest MATCHES "${header_re}")
    string(FIND "${rest}" "${CMAKE_MATCH_0}" next_at)
  endif()
  line_of("${text}" ${start} first_line)
  if(trailer_at LESS 0 OR (next_at GREATER_EQUAL 0 AND next_at LESS trailer_at))
    message(FATAL_ERROR "${file}:${first_line}: the entry for ${version} has no closing "
      "line before the next entry or the end of the file")
  endif()
  math(EXPR trailer_at "${start} + ${trailer_at} + 1")
  line_of("${text}" ${trailer_at} trailer_line)
  string(SUBSTRING "${text}" ${trailer_at} -1 trailer)
  string(FIND "${trailer}" "\n" end)
  string(SUBSTRING "${trailer}" 0 ${end} trailer)

  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  set(date_re "([0-9]+) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ([0-9][0-9]):([0-9][0-9]):([0-9][0-9]) ([+-])([0-9][0-9])([0-9][0-9])[ \t]*$")
  # The form is shown on a line of its own, indented, which CMake prints as
  # it stands: in a paragraph it would join its two spaces into one.
  if(NOT trailer MATCHES "^ -- [^<>]+ <[^<>]+>  [A-Z][a-z][a-z], ${date_re}")
    message(FATAL_ERROR "${file}:${trailer_line}: the closing line of the entry for "
      "${version} is\n"
      "   ${trailer}\n"
      "where it must be written, with two spaces before the date, as\n"
      "    -- Name <address>  Day, DD Mon YYYY HH:MM:SS +ZZZZ\n")
  endif()
  set(day ${CMAKE_MATCH_1})
  set(month_name ${CMAKE_MATCH_2})
  set(year ${CMAKE_MATCH_3})
  math(EXPR seconds "${CMAKE_MATCH_4} * 3600 + ${CMAKE_MATCH_5} * 60 + ${CMAKE_MATCH_6}")
  math(EXPR offset "${CMAKE_MATCH_7}(${CMAKE_MATCH_8} * 3600 + ${CMAKE_MATCH_9} * 60)")
  list(FIND months "${month_name}" month)
  if(month LESS 0)
    message(FATAL_ERROR "${file}: '${month_name}' is not the short English name of a month")
  endif()
  math(EXPR month "${month} + 1")
  days_since_1970(${year} ${month} ${day} days)
  # The date is local time at the offset given: 13:45 +0100 is 12:45 UTC.
  math(EXPR epoch "${days} * 86400 + ${seconds} - ${offset}")

  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(epoch "$ENV{SOURCE_DATE_EPOCH}")
    if(NOT epoch MATCHES "^[0-9]+$")
      message(FATAL_ERROR "SOURCE_DATE_EPOCH is '${epoch}': it must be the seconds since 1970 in digits alone, or unset to take the changelog's date")
    endif()
  endif()
  set(${version_var} "${version}" PARENT_SCOPE)
  set(${epoch_var} "${epoch}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  read_changelog("${CHANGELOG}" version epoch)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E echo "${version} ${epoch}")
endif()
