# SPDX-License-Identifier: MIT
# Run by cpack after it has staged the files to package, before it packs
# them.  The folders that the install made follow the umask of whoever
# builds; a package's folders are open to all.
file(CHMOD_RECURSE "${CPACK_TEMPORARY_DIRECTORY}" DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
