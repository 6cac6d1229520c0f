# The census of the storage layer's doors at the level of symbols
# (storage_census_test.cpp): planted objects that change files past the storage layer
# must be named.
tarmic_symbol_census(storage 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15)
