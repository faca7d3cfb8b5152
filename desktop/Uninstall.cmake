# Removes what `make install` put under a prefix:
#   cmake -DPREFIX=<prefix> -DLIST=<build>/installed-files.txt -P desktop/Uninstall.cmake
# DESTDIR in the environment is put before the prefix, as the install did. Files that are not
# there are passed over; folders are left, since others may share them (share/icons/hicolor).
if(NOT PREFIX OR NOT LIST)
  message(FATAL_ERROR "usage: cmake -DPREFIX=<prefix> -DLIST=<installed-files.txt> -P Uninstall.cmake")
endif()
if(NOT EXISTS "${LIST}")
  message(FATAL_ERROR "${LIST} is missing: configure the build first (make build).")
endif()
file(STRINGS "${LIST}" files)
foreach(file IN LISTS files)
  set(path "$ENV{DESTDIR}${PREFIX}/${file}")
  if(EXISTS "${path}" OR IS_SYMLINK "${path}")
    message(STATUS "Removing ${path}")
    file(REMOVE "${path}")
  endif()
endforeach()
