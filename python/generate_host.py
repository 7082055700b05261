import sys; print("todo")
