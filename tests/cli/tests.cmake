# The vtxt tests run the real binary; added with the tool.
