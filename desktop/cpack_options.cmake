# Read by cpack as it runs. Its archive writer puts file names into the
# locale's character set: the usage file's Chinese name needs UTF-8, which
# a bare system (no LANG) has only as C.UTF-8.
set(vov_ctype "$ENV{LC_ALL}")
if(vov_ctype STREQUAL "")
  set(vov_ctype "$ENV{LC_CTYPE}")
endif()
if(vov_ctype STREQUAL "")
  set(vov_ctype "$ENV{LANG}")
endif()
if(NOT vov_ctype MATCHES "UTF-8|utf8")
  set(ENV{LC_ALL} "C.UTF-8")
endif()
