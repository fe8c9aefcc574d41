# Run at build time (cmake -DWEB=... -DTEMPLATE=... -DFILES=a,b,... -P
# service_worker.cmake): writes WEB/sw.js from TEMPLATE, with the build named
# by a hash of the FILES in WEB, so that each new build of the game gets a
# cache of its own and replaces the old one, and each file's SHA-256 (the
# page's address, ./, is index.html), so that the copy can take a file from
# wherever it already is once it is sure it is this build's.
string(REPLACE "," ";" FILES "${FILES}")
set(sums "")
set(quoted "")
foreach(file IN LISTS FILES)
  if(NOT EXISTS ${WEB}/${file})
    message(FATAL_ERROR "service_worker.cmake: ${WEB}/${file} is missing")
  endif()
  file(SHA256 ${WEB}/${file} sum)
  string(APPEND sums "${file} ${sum}\n")
  if(file STREQUAL "index.html")
    list(APPEND quoted "'./': '${sum}'")
  endif()
  list(APPEND quoted "'${file}': '${sum}'")
endforeach()
string(SHA256 build "${sums}")
string(SUBSTRING ${build} 0 16 KELVAR_BUILD)
list(JOIN quoted ",\n  " KELVAR_FILES)
configure_file(${TEMPLATE} ${WEB}/sw.js @ONLY)
