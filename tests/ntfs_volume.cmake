# The CTest fixture "ntfs_volume": the test drives of tests/driver/test_volumes.h
# (N: real NTFS through ntfs-3g, M: a folder of that volume, T: tmpfs, and the
# others listed there), mounted and mapped into this build's Wine prefix before the
# first test that declares FIXTURES_REQUIRED ntfs_volume, and removed after the
# last one.
set(DIRSHIFT_NTFS_VOLUME_SCRIPT ${PROJECT_SOURCE_DIR}/tools/ntfs-volume.sh)
add_test(NAME ntfs_volume.setup COMMAND ${DIRSHIFT_NTFS_VOLUME_SCRIPT} up)
add_test(NAME ntfs_volume.cleanup COMMAND ${DIRSHIFT_NTFS_VOLUME_SCRIPT} down)
set_tests_properties(ntfs_volume.setup PROPERTIES
  FIXTURES_SETUP ntfs_volume
  ENVIRONMENT "DIRSHIFT_BUILD_DIR=${CMAKE_BINARY_DIR}"
  RESOURCE_LOCK ntfs_volume_mount
  LABELS volume
  TIMEOUT 120)
set_tests_properties(ntfs_volume.cleanup PROPERTIES
  FIXTURES_CLEANUP ntfs_volume
  ENVIRONMENT "DIRSHIFT_BUILD_DIR=${CMAKE_BINARY_DIR}"
  RESOURCE_LOCK ntfs_volume_mount
  LABELS volume
  TIMEOUT 120)
