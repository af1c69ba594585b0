# The release package, "cmake --build --preset release --target package":
# build/release/KELDRIX-Network-<version>-win64.zip with the helper as the install rule puts it,
# INSTALL.txt and SHA256SUMS (packaging/make-package.sh). The helper in the package is signed
# when KELDRIX_SIGN_PKCS12 names a code-signing certificate; the one in the build tree never is.
add_custom_target(package
  COMMAND sh ${PROJECT_SOURCE_DIR}/packaging/make-package.sh ${CMAKE_BINARY_DIR} ${PROJECT_VERSION} ${CMAKE_OBJDUMP}
  DEPENDS KELDRIX-Network
  BYPRODUCTS ${CMAKE_BINARY_DIR}/KELDRIX-Network-${PROJECT_VERSION}-win64.zip
  USES_TERMINAL VERBATIM)
