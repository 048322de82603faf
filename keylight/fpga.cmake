# Filled in as this piece lands.
