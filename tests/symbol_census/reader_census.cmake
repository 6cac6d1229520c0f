# The census of the readers of files at the level of symbols
# (reader_census_test.cpp): no object but the one reader of files
# (numerics/text_lines.cpp) and those the test lists with their reason may open a
# file. Planted readers must be named.
tarmic_symbol_census(reader 1 2 3 4 5 6 7 8)
