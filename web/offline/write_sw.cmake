# SPDX-License-Identifier: BSD-3-Clause
# Writes the service worker: its version is a hash of the site's files, so any change to the site
# makes browsers fetch it afresh.  cmake -DSITE=dir -DTEMPLATE=sw.js -DNAMES=a,b -P write_sw.cmake
string(REPLACE "," ";" NAMES "${NAMES}")
set(hashes "")
set(list "")
foreach(name IN LISTS NAMES)
  file(SHA256 "${SITE}/${name}" hash)
  string(APPEND hashes "${hash}")
  string(APPEND list "'${name}', ")
endforeach()
string(SHA256 version "${hashes}")
string(SUBSTRING "${version}" 0 16 version)
string(REGEX REPLACE ", $" "" list "${list}")
file(READ "${TEMPLATE}" text)
string(REPLACE "const CACHE = 'trelmo-dev';" "const CACHE = 'trelmo-${version}';" text "${text}")
string(REPLACE "const FILES = [];" "const FILES = [${list}];" text "${text}")
file(WRITE "${SITE}/sw.js" "${text}")
