import zel


def greet(name):
    return f"Hello, {name}!"


def fibonacci(n):
    a, b = 0, 1
    for _ in range(n):
        a, b = b, a + b
    return a


for who in ["world", "zel"]:
    print(greet(who))

squares = [i * i for i in range(6)]
print(f"squares: {squares}")
print(f"sum of squares: {sum(squares)}")
for n in (10, 30, 90):
    print(f"fibonacci({n}) = {fibonacci(n)}")
