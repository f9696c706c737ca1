technique T { pass P { } }
