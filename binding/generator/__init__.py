"""The generators of the boundary (binding/generate.py) and of the Python host (python/generate_host.py)."""
