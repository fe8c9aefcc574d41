# Run at build time (cmake -DWEB=... -DTEMPLATE=... -DFILES=a,b,... -P
# service_worker.cmake): writes WEB/sw.js from TEMPLATE, with the build named
# by a hash of the FILES in WEB, so that each new build of the game gets a
# cache of its own and replaces the old one.
string(REPLACE "," ";" FILES "${FILES}")
set(sums "")
set(quoted "")
foreach(file IN LISTS FILES)
  if(NOT EXISTS ${WEB}/${file})
    message(FATAL_ERROR "service_worker.cmake: ${WEB}/${file} is missing")
  endif()
  file(SHA256 ${WEB}/${file} sum)
  string(APPEND sums "${file} ${sum}\n")
  list(APPEND quoted "'${file}'")
endforeach()
string(SHA256 build "${sums}")
string(SUBSTRING ${build} 0 16 KELVAR_BUILD)
list(JOIN quoted ", " KELVAR_FILES)
configure_file(${TEMPLATE} ${WEB}/sw.js @ONLY)
