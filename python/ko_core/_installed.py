# Where the library lies relative to this package once installed; the install writes its own copy.
# In the source tree the library is found through KO_CORE_LIB or the loader path.
LIBRARY_FROM_PACKAGE = "."
